#pragma once
// TForm1, the main window: menu bar, toolbar, the two parameter panels, the
// statistics panel and the gauge. Handlers are named after their control and
// event; those of a command live in its subsystem's folder.
#include "checking/ui/hidden_button.h"
#include "platform/ui/services.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;
class QAbstractButton;
class QToolButton;
class TGauge;
namespace vq::checking {
class ListCheck;
}
namespace vq::filtering {
class DomainWindow;
}

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- layout (names of the design) ----
    QWidget* CoolBar1 = nullptr;
    QToolButton *SpeedButton5 = nullptr, *SpeedButton4 = nullptr, *SpeedButton3 = nullptr,
                *SpeedButton8 = nullptr, *SpeedButton6 = nullptr, *SpeedButton2 = nullptr,
                *SpeedButton9 = nullptr;
    QFrame *Panel1 = nullptr, *Panel2 = nullptr, *Panel3 = nullptr, *Panel4 = nullptr,
           *Panel5 = nullptr;
    QLabel *StaticText1 = nullptr, *StaticText2 = nullptr;
    QLineEdit *Edit1 = nullptr, *Edit2 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr;
    // Views on the two parameter lists; made by createParameterGrid().
    QTableView *StringGrid2 = nullptr, *StringGrid3 = nullptr;
    // Statistics panel: captions Label7/4/2/5 and Label10/12/14/16; values
    // Label8/1/3/6 and Label11/13/15/17.
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
           *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr,
           *Label10 = nullptr, *Label11 = nullptr, *Label12 = nullptr, *Label13 = nullptr,
           *Label14 = nullptr, *Label15 = nullptr, *Label16 = nullptr, *Label17 = nullptr;
    TGauge* Gauge1 = nullptr;

    // Menu bar and pop-up menus.
    QMenu *N1 = nullptr, *N23 = nullptr, *N2 = nullptr;
    QAction *N4 = nullptr, *N24 = nullptr, *N5 = nullptr, *N12 = nullptr, *N9 = nullptr,
            *N7 = nullptr, *N6 = nullptr, *N13 = nullptr, *N27 = nullptr, *N8 = nullptr,
            *N22 = nullptr, *N10 = nullptr, *N11 = nullptr, *N3 = nullptr;
    // Beyond the design, at the end of N23: removing a suppression list and
    // counting by domain.
    QAction *N29 = nullptr, *N30 = nullptr;
    QMenu *PopupMenu1 = nullptr, *PopupMenu2 = nullptr;
    QAction *N16 = nullptr, *N18 = nullptr, *N19 = nullptr, *N28 = nullptr, *N17 = nullptr,
            *N20 = nullptr, *N21 = nullptr;

    // Shared file dialogs.
    vq::platform::FileDialog OpenDialog1, OpenDialog2, SaveDialog1, SaveDialog2;

    void FormCreate();
    void N3Click();  // close, through the exit confirmation
    void N7Click();  // performs a click of N3
    void N8Click();  // help
    void N10Click(); // home page
    void N22Click(); // feedback
    void N11Click(); // About window
    void N24Click(); // folder-merge window
    void SpeedButton5Click();
    void SpeedButton4Click();
    void SpeedButton3Click();
    void SpeedButton8Click();
    void SpeedButton6Click();
    void SpeedButton2Click();
    void SpeedButton9Click();
    // Blanks the eight value labels, the first step of most commands.
    void blankStatistics();

    void N4Click();      // manual merge
    void N5Click();      // splitter
    void N12Click();     // self-add
    void N6Click();      // list check
    void N13Click();     // OR filter
    void N27Click();     // AND filter
    void N29Click();     // remove a suppression list
    void N30Click();     // count by domain
    void Button1Click(); // add OR parameter
    void Button2Click(); // add AND parameter
    void N16Click();     // delete OR parameter
    void N17Click();     // delete AND parameter
    void N18Click();     // import OR parameters
    void N20Click();     // import AND parameters
    void N19Click();     // export OR parameters
    void N21Click();     // export AND parameters

    // The list check, with the hidden Button3 and Button4; made by the first
    // check. A check still running when the window goes is stopped first.
    vq::checking::ListCheck& listCheck();
    // The domain window, made by the first domain count and kept.
    vq::filtering::DomainWindow& domainWindow();

    // ---- hiding to the notification area (tray_wiring.cpp) ----
    void N28Click();             // hide to the notification area
    void antTaskbarIcon1Click(); // restore from it
    void createTaskbarIcon();    // while the window is built: antTaskbarIcon1
    void wireMinimize();         // last step of FormCreate
    // Returns at once while the main window is shown; while the program is
    // in the notification area, runs the event loop until the icon brings the
    // window back (true) or the program ends first (false).
    bool waitWhileInTray();
    class TantTaskbarIcon* antTaskbarIcon1 = nullptr; // the icon in the notification area
    // The About, folder-merge and progress windows that were open when the
    // program went to the notification area; they come back with the main
    // window (the progress window only while its check still runs).
    QList<QPointer<QWidget>> hiddenWithMain;
    bool inTray = false; // hidden by N28Click, not yet brought back

Q_SIGNALS:
    // The exit was confirmed; the window closes and the program ends.
    void closing();
    // The icon brought the hidden program back.
    void restored();

protected:
    void closeEvent(QCloseEvent* e) override;
    bool FormCloseQuery(); // the exit confirmation

private:
    std::unique_ptr<vq::checking::ListCheck> listCheck_;
    vq::filtering::DomainWindow* domainWindow_ = nullptr; // a child window of this one
    void buildMenus();
    void buildToolbar();
    void buildParameterPanels();
    void buildStatistics();
    // Connects an action to a handler through the error-box guard.
    void wire(QAction* a, void (TForm1::*handler)());
    void wire(QAbstractButton* b, void (TForm1::*handler)());
};

class TAboutBox;
class TForm2;
class TForm3;

// The four windows, created at start-up in this order and kept to the end.
extern TForm1* Form1;
extern TAboutBox* AboutBox;
extern TForm2* Form2;
extern TForm3* Form3;

// Start-up steps 2 and 3: creates the four windows, all hidden. Tests call
// it too; destroyApplicationWindows undoes it.
void createApplicationWindows();
void destroyApplicationWindows();
