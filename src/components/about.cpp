#include "components/about.h"

#include "components/cwHyperLink.h"
#include "components/jpeg_decode.h"
#include "components/pictures.h"
#include "platform/ui/fixed_colours.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QScreen>
#include <QToolButton>
#include <QtDebug>

namespace {

const char* const kWebAddress = "www.example.com";
const char* const kHomePage = "https://www.example.com/veskoqindra/";
const char* const kMailAddress = "veskoqindra@example.com";

// The program's main window: the visible one if there is one.
QWidget* mainWindow() {
    QWidget* any = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!qobject_cast<QMainWindow*>(w)) continue;
        if (w->isVisible()) return w;
        if (!any) any = w;
    }
    return any;
}

// A picture the window cannot do without is still no reason to refuse to
// start: a damaged one leaves its place empty and says why on the console.
QPixmap decodedPicture(const char* name) {
    try {
        return QPixmap::fromImage(
            vq::components::decodeJpeg(vq::components::embeddedPicture(QString::fromLatin1(name))));
    } catch (const EJPEG& e) {
        qWarning("%s: %s", name, e.what());
        return {};
    }
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("关于VeskoQindra"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    // Closing the About window only hides it; it must never end the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    // A 259 x 213 window on the original desktop: its frame took 8 pixels
    // across and 27 down, the window manager's frame here takes what it needs.
    resize(251, 186);
    QFont form(QStringLiteral("MS Sans Serif"));
    form.setPixelSize(11);
    setFont(form);
    QPalette face = palette();
    face.setColor(QPalette::Window, colorToQColor(clBtnFace));
    setPalette(face);
    setAutoFillBackground(true);
    if (QWidget* owner = mainWindow()) setWindowIcon(owner->windowIcon());

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    // Lowered outside, raised inside: an etched frame.
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1->setGeometry(0, 8, 241, 169);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(12, 8, 66, 46);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(decodedPicture("program_picture.jpg"));

    ProductName = new QLabel(QStringLiteral("Qindra V3.4"), Panel1);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    ProductName->setGeometry(88, 16, 133, 14);
    QFont song(QStringLiteral("宋体"));
    song.setPixelSize(14);
    ProductName->setFont(song);
    vq::platform::setTextOnFixedFace(ProductName, colorToQColor(clBlue));

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(decodedPicture("picture_strip.jpg"));
    Image1->setGeometry(12, 64, 188, 18);

    cwHyperLink1 = new TcwHyperLink(Panel1);
    cwHyperLink1->setObjectName(QStringLiteral("cwHyperLink1"));
    cwHyperLink1->setGeometry(10, 88, 172, 15);
    cwHyperLink1->setCursor(Qt::PointingHandCursor);
    // The links' blue, red and fuchsia are their own, so their background is
    // too: on white even fuchsia reads, whatever the desktop's palette.
    cwHyperLink1->SetColor(clWhite);
    cwHyperLink1->SetCaption(kWebAddress);
    cwHyperLink1->SetURL(kHomePage);

    cwHyperLink3 = new TcwHyperLink(Panel1);
    cwHyperLink3->setObjectName(QStringLiteral("cwHyperLink3"));
    cwHyperLink3->setGeometry(10, 108, 152, 15);
    cwHyperLink3->setCursor(Qt::PointingHandCursor);
    cwHyperLink3->SetColor(clWhite);
    cwHyperLink3->SetCaption(std::string("email: ") + kMailAddress);
    cwHyperLink3->SetURL(std::string("mailto:") + kMailAddress);

    SpeedButton1 = new QToolButton(Panel1);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(190, 128, 41, 33);
    SpeedButton1->setAutoRaise(true);
    QPixmap off;
    off.loadFromData(vq::components::embeddedPicture(QStringLiteral("switch_off.png")));
    SpeedButton1->setIcon(QIcon(off));
    SpeedButton1->setIconSize(QSize(32, 32));
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::SpeedButton1Click() {
    close();
}

void TAboutBox::setVisible(bool visible) {
    // Placed before the window first reaches the window manager, which then
    // puts the frame, not just the inside, where it is asked to.
    if (visible && !placed_) {
        placed_ = true;
        placeOverMainWindow();
    }
    QWidget::setVisible(visible);
}

void TAboutBox::placeOverMainWindow() {
    QWidget* owner = mainWindow();
    if (owner && !testAttribute(Qt::WA_SetWindowIcon)) setWindowIcon(owner->windowIcon());
    const QRect over =
        owner ? owner->frameGeometry() : (screen() ? screen()->availableGeometry() : QRect());
    if (!over.isValid()) return;
    // This window's frame is not known before its first showing; the main
    // window's frame, from the same window manager, stands in for it.
    const QSize frame = owner ? owner->frameGeometry().size() - owner->size() : QSize(0, 0);
    const QSize outer = size() + frame;
    move(over.x() + (over.width() - outer.width()) / 2,
         over.y() + (over.height() - outer.height()) / 2);
}
