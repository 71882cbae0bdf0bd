#include "components/antTaskbarIcon.h"

#include "platform/ui/codepage.h"

#include <QMenu>
#include <QtDebug>

#include <cstring>

using namespace vq::platform;

std::string cutHint(const std::string& bytes) {
    if (bytes.size() <= TantTaskbarIcon::kMaxHint) return bytes;
    // Walk whole characters: a byte from 0x81 to 0xFE leads a two-byte one,
    // and a tip must never end in half a character.
    std::size_t keep = 0;
    while (keep < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[keep]);
        const std::size_t width = b >= 0x81 && b <= 0xFE ? 2 : 1;
        if (keep + width > TantTaskbarIcon::kMaxHint) break;
        keep += width;
    }
    return bytes.substr(0, keep);
}

TantTaskbarIcon::TantTaskbarIcon(QObject* AOwner) : QObject(AOwner) {
    // The window exists for the component's whole life, shown or not;
    // creating the component never talks to the desktop.
    FIconWindow = createMessageWindow(
        [this](std::uint32_t msg, WPARAM w, LPARAM l) { return HandleIconMessage(msg, w, l); });
}

TantTaskbarIcon::~TantTaskbarIcon() {
    // A failing desktop must not turn the end of the program into a crash:
    // the icon goes with its window below in any case.
    try {
        SetVisible(false);
    } catch (const std::exception& e) {
        qWarning("%s", e.what());
    }
    QObject::disconnect(FPopupWatch);
    destroyMessageWindow(FIconWindow);
}

void TantTaskbarIcon::SetPopupMenu(QMenu* Value) {
    QObject::disconnect(FPopupWatch);
    FPopupMenu = Value;
    // The menu may go before the icon, whoever owns it; the removal
    // notification then forgets it instead of keeping a dangling pointer.
    if (Value)
        FPopupWatch = connect(Value, &QObject::destroyed, this,
                              [this](QObject* gone) { Notification(gone, TOperation::opRemove); });
}

void TantTaskbarIcon::SetHintText(const QString& text) {
    SetHint(toCodePage(text));
}

void TantTaskbarIcon::Loaded() {
    // A stored Visible has already added the icon; adding again is refused
    // quietly by the desktop but still raises OnShow.
    if (FVisible) ShowIcon();
}

void TantTaskbarIcon::Notification(QObject* AComponent, TOperation Operation) {
    if (Operation == TOperation::opRemove && FPopupMenu &&
        AComponent == static_cast<QObject*>(FPopupMenu)) {
        QObject::disconnect(FPopupWatch);
        FPopupMenu = nullptr;
    }
}

TShiftState TantTaskbarIcon::keysNow() const {
    NotifyIcons& desk = notifyIcons();
    TShiftState keys = 0;
    if (desk.keyState(VK_SHIFT) < 0) keys |= ssShift;
    if (desk.keyState(VK_CONTROL) < 0) keys |= ssCtrl;
    if (desk.keyState(VK_MENU) < 0) keys |= ssAlt;
    return keys;
}

LRESULT TantTaskbarIcon::HandleIconMessage(std::uint32_t Msg, WPARAM WParam, LPARAM LParam) {
    if (Msg != kIconMessage || !FEnabled) return defWindowProc(FIconWindow, Msg, WParam, LParam);
    const QPoint at = notifyIcons().cursorPos();
    switch (static_cast<std::uint32_t>(LParam)) {
    case WM_LBUTTONDOWN:
        FClicked = true;
        FireMouseDown(mbLeft, keysNow() | ssLeft, at.x(), at.y());
        break;
    case WM_LBUTTONUP:
        FireMouseUp(mbLeft, keysNow() | ssLeft, at.x(), at.y());
        if (FClicked) FireClick();
        FClicked = false;
        break;
    case WM_LBUTTONDBLCLK:
        FireDblClick();
        break;
    case WM_RBUTTONDOWN:
        notifyIcons().setForegroundWindow(FIconWindow);
        FireMouseDown(mbRight, keysNow() | ssRight, at.x(), at.y());
        break;
    case WM_RBUTTONUP: {
        QPointer<TantTaskbarIcon> alive(this);
        PopupAtCursor();
        // A command of the menu may have destroyed the icon meanwhile.
        if (alive) FireMouseUp(mbRight, keysNow() | ssRight, at.x(), at.y());
        break;
    }
    default:
        break;
    }
    return 0;
}

void TantTaskbarIcon::FillIconData() {
    std::memset(&FIconData, 0, sizeof FIconData);
    FIconData.cbSize = sizeof FIconData;
    FIconData.hWnd = FIconWindow;
    FIconData.uID = static_cast<std::uint32_t>(FIconID);
    FIconData.uFlags = FIconFlags;
    FIconData.uCallbackMessage = kIconMessage;
    FIconData.hIcon = FIcon.Handle();
    // FHint never holds more than kMaxHint bytes, so the zero always fits.
    std::memcpy(FIconData.szTip, FHint.data(), std::min(FHint.size(), kMaxHint));
}

void TantTaskbarIcon::request(std::uint32_t message, const char* operation) {
    try {
        FillIconData();
        // A refused request (a second add, a change of an absent icon) is
        // not news: the fields keep their new values either way.
        notifyIcons().shellNotifyIcon(message, &FIconData);
    } catch (...) {
        throw EantTaskbarIcon(Name() + "." + operation + " failed");
    }
}

void TantTaskbarIcon::AddToTaskbar() {
    request(NIM_ADD, "AddToTaskbar");
}

void TantTaskbarIcon::DeleteFromTaskbar() {
    request(NIM_DELETE, "DeleteFromTaskbar");
}

void TantTaskbarIcon::UpDate() {
    request(NIM_MODIFY, "UpDate");
}

void TantTaskbarIcon::TakeIconFromImageList() {
    if (!FImageList) return;
    FIcon.Clear();
    FImageList->GetIcon(FImageIndex, FIcon);
    UpDate();
}

void TantTaskbarIcon::FireMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TantTaskbarIcon::FireMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    notifyIcons().setForegroundWindow(kApplicationWindow);
    if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TantTaskbarIcon::FireClick() {
    if (OnClick) OnClick(this);
}

void TantTaskbarIcon::FireDblClick() {
    if (OnDblClick) OnDblClick(this);
}

void TantTaskbarIcon::SetIcon(const QIcon& Value) {
    FIcon.Assign(Value);
    UpDate();
}

void TantTaskbarIcon::SetImageList(TImageList* Value) {
    FImageList = Value;
    TakeIconFromImageList();
}

void TantTaskbarIcon::SetImageIndex(int Value) {
    FImageIndex = Value;
    TakeIconFromImageList();
}

void TantTaskbarIcon::SetIconID(int Value) {
    if (Value == FIconID) return;
    // The desktop names an icon by window and identifier, so a shown icon
    // is taken out under the old one and put back under the new one.
    const bool wasVisible = FVisible;
    SetVisible(false);
    FIconID = Value;
    SetVisible(wasVisible);
}

void TantTaskbarIcon::SetVisible(bool Value) {
    if (Value == FVisible) return;
    FVisible = Value;
    if (Value)
        ShowIcon();
    else
        HideIcon();
}

void TantTaskbarIcon::SetEnabled(bool Value) {
    FEnabled = Value;
}

void TantTaskbarIcon::SetHint(const std::string& Value) {
    FHint = cutHint(Value);
    UpDate();
}

void TantTaskbarIcon::ShowIcon() {
    FIconFlags |= NIF_ICON;
    AddToTaskbar();
    FVisible = true;
    if (OnShow) OnShow(this);
}

void TantTaskbarIcon::HideIcon() {
    FIconFlags &= ~NIF_ICON;
    DeleteFromTaskbar();
    FVisible = false;
    if (OnHide) OnHide(this);
}

void TantTaskbarIcon::PopupAtCursor() {
    if (!FPopupMenu) return;
    QPointer<TantTaskbarIcon> alive(this);
    // Returns once the menu has closed.
    FPopupMenu->exec(notifyIcons().cursorPos());
    if (!alive) return;
    // Wakes the icon window's message handling once the menu is gone, as the
    // desktop's menu tracking expects.
    postMessage(FIconWindow, WM_NULL, 0, 0);
    if (OnPopupMenu) OnPopupMenu(this);
}
