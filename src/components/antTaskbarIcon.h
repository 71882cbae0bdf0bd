#pragma once
// TantTaskbarIcon: a non-visual component that keeps one icon with a tip in
// the desktop's notification area and turns the desktop's mouse reports on it
// into events of its owner. A hidden message window of its own receives the
// reports; the component talks to the desktop only through the platform's
// notification-icon service.
#include "components/icon.h"
#include "listio/errors.h"
#include "platform/ui/notify_icon.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QMenu;

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// Shift state: keys held and the button concerned.
using TShiftState = unsigned;
inline constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16,
                             ssMiddle = 32, ssDouble = 64;

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TMouseEvent =
    std::function<void(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

enum class TOperation { opInsert, opRemove };

class EantTaskbarIcon : public vq::Exception {
public:
    using vq::Exception::Exception;
};

class TantTaskbarIcon : public QObject {
    Q_OBJECT
public:
    // The callback message of the icon: the first user message plus one.
    static constexpr std::uint32_t kIconMessage = vq::platform::WM_USER + 1;
    // The longest tip in bytes; the record's tip field holds one more, the zero.
    static constexpr std::size_t kMaxHint = 63;

    explicit TantTaskbarIcon(QObject* AOwner);
    ~TantTaskbarIcon() override;

    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TNotifyEvent OnClick; // left press followed by a left release
    TNotifyEvent OnDblClick;
    TNotifyEvent OnPopupMenu; // after the pop-up menu has closed
    TNotifyEvent OnShow;      // after the icon was added
    TNotifyEvent OnHide;      // after the icon was removed

    // The owned picture. Writing into it directly, as the owner's loader
    // does, leaves the desktop alone until the next request.
    TIcon& Icon() { return FIcon; }
    TImageList* ImageList() const { return FImageList; }
    int ImageIndex() const { return FImageIndex; }
    int IconID() const { return FIconID; }
    bool Visible() const { return FVisible; }
    bool Enabled() const { return FEnabled; }
    const std::string& Hint() const { return FHint; }
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* Value);
    // Hint from text typed in the program (encoded in the system code page).
    void SetHintText(const QString& text);

    std::uint32_t IconFlags() const { return FIconFlags; }
    vq::platform::HWND IconWindow() const { return FIconWindow; }
    const vq::platform::NotifyIconData& IconData() const { return FIconData; }
    std::string Name() const { return objectName().toStdString(); }

    // Called by the owner once its stored properties have been assigned.
    virtual void Loaded();
    // Called when a component the icon may refer to goes away.
    virtual void Notification(QObject* AComponent, TOperation Operation);

    // The operations in their fixed order, so that a descendant can replace
    // any of them.
    virtual vq::platform::LRESULT HandleIconMessage(std::uint32_t Msg, vq::platform::WPARAM WParam,
                                                    vq::platform::LPARAM LParam);
    virtual void FillIconData();
    virtual void AddToTaskbar();
    virtual void DeleteFromTaskbar();
    virtual void TakeIconFromImageList();
    virtual void FireMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void FireMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void FireClick();
    virtual void FireDblClick();
    virtual void SetIcon(const QIcon& Value);
    virtual void SetImageList(TImageList* Value);
    virtual void SetImageIndex(int Value);
    virtual void SetIconID(int Value);
    virtual void SetVisible(bool Value);
    virtual void SetEnabled(bool Value);
    virtual void SetHint(const std::string& Value);
    virtual void UpDate();
    virtual void ShowIcon();
    virtual void HideIcon();
    virtual void PopupAtCursor();

private:
    void request(std::uint32_t message, const char* operation);
    TShiftState keysNow() const;

    vq::platform::HWND FIconWindow = 0;
    vq::platform::NotifyIconData FIconData{};
    TIcon FIcon;
    QPointer<TImageList> FImageList;
    int FImageIndex = 0;
    int FIconID = 0;
    std::uint32_t FIconFlags = vq::platform::NIF_MESSAGE | vq::platform::NIF_TIP;
    bool FVisible = false;
    bool FEnabled = true;
    std::string FHint;
    QMenu* FPopupMenu = nullptr;
    QMetaObject::Connection FPopupWatch;
    bool FClicked = false;
};

// The tip cut to kMaxHint bytes without splitting a double-byte character of
// the system code page.
std::string cutHint(const std::string& bytes);
