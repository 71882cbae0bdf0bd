#include "app/Unit1.h"

#include "checking/ui/Unit3.h"
#include "checking/ui/check_window.h"
#include "components/about.h"
#include "components/design_fonts.h"
#include "components/gauge.h"
#include "components/toolbar_pictures.h"
#include "filtering/ui/domain_window.h"
#include "filtering/ui/filter_commands.h"
#include "filtering/ui/parameter_grid.h"
#include "filtering/ui/subtract_command.h"
#include "listio/errors.h"
#include "maintenance/ui/Unit2.h"
#include "maintenance/ui/list_commands.h"
#include "platform/ui/fixed_colours.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <cerrno>
#include <unistd.h>

using vq::platform::DialogKind;
using vq::platform::services;

namespace {

// Home page and feedback address of the maker.
const QString kHomePage = QStringLiteral("https://www.example.com/veskoqindra/");
const QString kFeedback = QStringLiteral("mailto:veskoqindra@example.com");

// The help file, and the same pages as HTML for a desktop that has no program
// for .chm files (or a build made without the help compiler).
const QString kHelpFile = QStringLiteral("brevant.chm");
const QString kHelpPages = QStringLiteral("brevant/index.html");

using vq::components::arialFont;
using vq::components::formFont;
using vq::components::songFont;

QFrame* panel(QWidget* parent, const char* name, QFrame::Shadow shadow) {
    auto* f = new QFrame(parent);
    f->setObjectName(QLatin1String(name));
    f->setFrameStyle(QFrame::Panel | shadow);
    f->setLineWidth(1);
    return f;
}

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

void makeBlue(QLabel* l) {
    vq::platform::setTextOnFixedFace(l, QColor(0, 0, 255));
}

vq::platform::FileDialog fileDialog(DialogKind kind, const char* name) {
    vq::platform::FileDialog d;
    d.kind = kind;
    d.name = QLatin1String(name);
    d.overwritePrompt = kind == DialogKind::Save;
    return d;
}

} // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent), OpenDialog1(fileDialog(DialogKind::Open, "OpenDialog1")),
      OpenDialog2(fileDialog(DialogKind::Open, "OpenDialog2")),
      SaveDialog1(fileDialog(DialogKind::Save, "SaveDialog1")),
      SaveDialog2(fileDialog(DialogKind::Save, "SaveDialog2")) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(vq::platform::kAppTitle);
    setWindowIcon(vq::components::programIcon());
    setFont(formFont());
    setAutoFillBackground(true);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("client"));
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    CoolBar1 = new QWidget(central);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    CoolBar1->setFixedHeight(65);
    Panel1 = panel(central, "Panel1", QFrame::Sunken);
    Panel1->setLineWidth(2);
    Panel2 = panel(central, "Panel2", QFrame::Sunken);
    Panel2->setFixedHeight(25);
    Panel4 = new QFrame(central);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setFixedHeight(23);
    column->addWidget(CoolBar1);
    column->addWidget(Panel1, 1);
    column->addWidget(Panel2);
    column->addWidget(Panel4);
    setCentralWidget(central);

    buildMenus();
    buildToolbar();
    buildParameterPanels();
    buildStatistics();

    createTaskbarIcon();

    // Outer size 610 x 398 on the design's desktop: a 602-pixel-wide client
    // area and 351 pixels below the menu bar. It is also the smallest size:
    // below it the lists, the gauge and the last counts would be cut off.
    const QSize designSize(602, 351 + menuBar()->sizeHint().height());
    resize(designSize);
    setMinimumSize(designSize);
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        // Not QRect::center(): on an even size it lies a pixel short of the
        // middle and the window would sit off centre.
        QRect avail = s->availableGeometry();
        move(avail.x() + (avail.width() - 610) / 2, avail.y() + (avail.height() - 398) / 2);
    }

    FormCreate();
}

// The list check goes first: its worker may still be using the window.
TForm1::~TForm1() {
    listCheck_.reset();
}

void TForm1::wire(QAction* a, void (TForm1::*handler)()) {
    connect(a, &QAction::triggered, this,
            [this, handler] { vq::platform::guarded(this, [&] { (this->*handler)(); }); });
}

void TForm1::wire(QAbstractButton* b, void (TForm1::*handler)()) {
    connect(b, &QAbstractButton::clicked, this,
            [this, handler] { vq::platform::guarded(this, [&] { (this->*handler)(); }); });
}

void TForm1::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto item = [this](QMenu* menu, const char* name, const QString& caption,
                       void (TForm1::*handler)()) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        wire(a, handler);
        return a;
    };

    N1 = bar->addMenu(QStringLiteral("列表维护(&W)"));
    N1->setObjectName(QStringLiteral("N1"));
    N4 = item(N1, "N4", QStringLiteral("手动合并器(&H)"), &TForm1::N4Click);
    N24 = item(N1, "N24", QStringLiteral("自动合并器(&A)"), &TForm1::N24Click);
    N5 = item(N1, "N5", QStringLiteral("自动分割器(&C)"), &TForm1::N5Click);
    N12 = item(N1, "N12", QStringLiteral("自添加列表(&T)"), &TForm1::N12Click);
    N9 = N1->addSeparator();
    N9->setObjectName(QStringLiteral("N9"));
    N7 = item(N1, "N7", QStringLiteral("退 出(&Exit)"), &TForm1::N7Click);

    N23 = bar->addMenu(QStringLiteral("列表过滤(&G)"));
    N23->setObjectName(QStringLiteral("N23"));
    N6 = item(N23, "N6", QStringLiteral("列表校验器(&V)"), &TForm1::N6Click);
    N13 = item(N23, "N13", QStringLiteral("或条件过滤(&H)"), &TForm1::N13Click);
    N27 = item(N23, "N27", QStringLiteral("与条件过滤(&Y)"), &TForm1::N27Click);
    N29 = item(N23, "N29", QStringLiteral("剔除退订列表(&T)"), &TForm1::N29Click);
    N30 = item(N23, "N30", QStringLiteral("域名统计(&D)"), &TForm1::N30Click);

    N2 = bar->addMenu(QStringLiteral("帮助(&H)"));
    N2->setObjectName(QStringLiteral("N2"));
    N8 = item(N2, "N8", QStringLiteral("帮助主题(&H)"), &TForm1::N8Click);
    N8->setShortcut(QKeySequence(Qt::Key_F1));
    N8->setShortcutContext(Qt::WindowShortcut);
    addAction(N8); // F1 anywhere in the window, menu open or not
    N22 = item(N2, "N22", QStringLiteral("反馈改进意见(&F)"), &TForm1::N22Click);
    N10 = item(N2, "N10", QStringLiteral("访问Vesko主页(&V)"), &TForm1::N10Click);
    N11 = item(N2, "N11", QStringLiteral("关于本软件(&A)"), &TForm1::N11Click);

    N3 = bar->addAction(QStringLiteral("退出(&E)"));
    N3->setObjectName(QStringLiteral("N3"));
    wire(N3, &TForm1::N3Click);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N16 = item(PopupMenu1, "N16", QStringLiteral("删除参数项"), &TForm1::N16Click);
    N18 = item(PopupMenu1, "N18", QStringLiteral("导入参数项"), &TForm1::N18Click);
    N19 = item(PopupMenu1, "N19", QStringLiteral("导出参数项"), &TForm1::N19Click);
    N28 = item(PopupMenu1, "N28", QStringLiteral("最小化"), &TForm1::N28Click);
    N28->setVisible(false); // reached only through minimising

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    N17 = item(PopupMenu2, "N17", QStringLiteral("删除参数项"), &TForm1::N17Click);
    N20 = item(PopupMenu2, "N20", QStringLiteral("导入参数项"), &TForm1::N20Click);
    N21 = item(PopupMenu2, "N21", QStringLiteral("导出参数项"), &TForm1::N21Click);
}

void TForm1::buildToolbar() {
    struct Tool {
        QToolButton** button;
        const char* name;
        QString caption, hint;
        vq::components::ToolPicture picture;
        void (TForm1::*handler)();
    };
    const Tool tools[] = {
        {&SpeedButton5, "SpeedButton5", QStringLiteral("自动合并"), QStringLiteral("列表自动合并"),
         vq::components::ToolPicture::AutoMerge, &TForm1::SpeedButton5Click},
        {&SpeedButton4, "SpeedButton4", QStringLiteral("自动分割"), QStringLiteral("列表自动分割"),
         vq::components::ToolPicture::AutoSplit, &TForm1::SpeedButton4Click},
        {&SpeedButton3, "SpeedButton3", QStringLiteral("校验重复"), QStringLiteral("剔除重复电邮"),
         vq::components::ToolPicture::CheckDuplicates, &TForm1::SpeedButton3Click},
        {&SpeedButton8, "SpeedButton8", QStringLiteral("或过滤"), QStringLiteral("或条件过滤"),
         vq::components::ToolPicture::OrFilter, &TForm1::SpeedButton8Click},
        {&SpeedButton6, "SpeedButton6", QStringLiteral("与过滤"), QStringLiteral("与条件过滤"),
         vq::components::ToolPicture::AndFilter, &TForm1::SpeedButton6Click},
        {&SpeedButton2, "SpeedButton2", QStringLiteral("如何使用"), QStringLiteral("如何使用软件"),
         vq::components::ToolPicture::Help, &TForm1::SpeedButton2Click},
        {&SpeedButton9, "SpeedButton9", QStringLiteral("更新版本"), QStringLiteral("下载最新版本"),
         vq::components::ToolPicture::Update, &TForm1::SpeedButton9Click},
    };
    int x = 2;
    for (const Tool& s : tools) {
        auto* b = new QToolButton(CoolBar1);
        b->setObjectName(QLatin1String(s.name));
        b->setText(s.caption);
        b->setToolTip(s.hint);
        b->setIcon(QIcon(vq::components::toolbarPicture(s.picture)));
        b->setIconSize(QSize(32, 32));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true); // flat until the pointer is over it
        b->setFocusPolicy(Qt::NoFocus);
        b->setFont(songFont(12));
        b->setGeometry(x, 2, 57, 55);
        wire(b, s.handler);
        *s.button = b;
        x += 58;
    }
}

void TForm1::buildParameterPanels() {
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(0);
    Panel3 = panel(Panel1, "Panel3", QFrame::Raised);
    Panel3->setFixedWidth(247);
    Panel5 = panel(Panel1, "Panel5", QFrame::Raised);
    Panel5->setFixedWidth(248);
    row->addWidget(Panel3);
    row->addStretch(1);
    row->addWidget(Panel5);

    struct Side {
        QFrame* host;
        QLabel** heading;
        const char* headingName;
        QString headingText;
        int headingX;
        QLineEdit** edit;
        const char* editName;
        QString editText;
        QPushButton** button;
        const char* buttonName;
        void (TForm1::*addHandler)();
        QTableView** grid;
        const char* gridName;
        int gridWidth;
        QMenu* popup;
    };
    const Side sides[] = {
        {Panel3, &StaticText1, "StaticText1", QStringLiteral("或条件过滤参数列表"), 56, &Edit1,
         "Edit1", QStringLiteral(".cn"), &Button1, "Button1", &TForm1::Button1Click, &StringGrid2,
         "StringGrid2", 223, PopupMenu1},
        {Panel5, &StaticText2, "StaticText2", QStringLiteral("与条件过滤参数列表"), 64, &Edit2,
         "Edit2", QStringLiteral(".com"), &Button2, "Button2", &TForm1::Button2Click, &StringGrid3,
         "StringGrid3", 225, PopupMenu2},
    };
    for (const Side& s : sides) {
        QLabel* heading = *s.heading = label(s.host, s.headingName, s.headingText);
        heading->setFont(songFont(12));
        makeBlue(heading);
        heading->move(s.headingX, 8);
        heading->adjustSize();

        QLineEdit* edit = *s.edit = new QLineEdit(s.editText, s.host);
        edit->setObjectName(QLatin1String(s.editName));
        edit->setGeometry(8, 32, 161, 21);
        edit->setToolTip(QStringLiteral("待过滤邮址域名后缀"));

        QPushButton* button = *s.button = new QPushButton(QStringLiteral("添加参数"), s.host);
        button->setObjectName(QLatin1String(s.buttonName));
        button->setGeometry(176, 29, 57, 25);
        button->setFont(songFont(12));
        wire(button, s.addHandler);
        // Enter in the entry box is a click of the add button beside it.
        connect(edit, &QLineEdit::returnPressed, button, &QPushButton::click);

        QTableView* grid = *s.grid = createParameterGrid(s.host);
        grid->setObjectName(QLatin1String(s.gridName));
        grid->setGeometry(8, 64, s.gridWidth, 149);
        grid->setToolTip(QStringLiteral("单击鼠标右键可删除参数"));
        grid->setContextMenuPolicy(Qt::CustomContextMenu);
        QMenu* popup = s.popup;
        connect(grid, &QWidget::customContextMenuRequested, this, [grid, popup](const QPoint& at) {
            popup->popup(grid->viewport()->mapToGlobal(at));
        });
    }
    QPalette white = Edit2->palette();
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::Text, Qt::black); // a dark palette's light text would vanish
    Edit2->setPalette(white);
}

void TForm1::buildStatistics() {
    // Row 1: Label7 Label8 Label4 Label1 Label2 Label3 Label5 Label6, Gauge1;
    // row 2: Label10 Label11 Label12 Label13 Label14 Label15 Label16 Label17.
    auto pair = [this](QWidget* host, QLabel*& caption, const char* captionName,
                       const QString& text, QLabel*& value, const char* valueName, int x,
                       int valueWidth, int y) {
        caption = label(host, captionName, text);
        caption->setFont(songFont(12));
        makeBlue(caption);
        caption->setGeometry(x, y, 50, 16);
        value = label(host, valueName, QString());
        value->setFont(arialFont(12));
        vq::platform::setTextOnFixedFace(value, Qt::black);
        value->setGeometry(x + 52, y, valueWidth, 16);
    };
    // Each value of row 1 reaches to the next caption, so counts of eight
    // digits (a list of tens of millions of lines) show whole.
    // Blue captions and black counts: the panel behind them is the fixed face.
    for (QFrame* host : {Panel2, Panel4}) {
        QPalette pal = host->palette();
        pal.setColor(QPalette::Window, vq::platform::fixedFace());
        host->setPalette(pal);
        host->setAutoFillBackground(true);
    }
    pair(Panel2, Label7, "Label7", QStringLiteral("列表分割"), Label8, "Label8", 6, 54, 4);
    pair(Panel2, Label4, "Label4", QStringLiteral("地址总数"), Label1, "Label1", 112, 56, 4);
    pair(Panel2, Label2, "Label2", QStringLiteral("删除重复"), Label3, "Label3", 220, 56, 4);
    pair(Panel2, Label5, "Label5", QStringLiteral("有效地址"), Label6, "Label6", 328, 57, 4);
    Gauge1 = new TGauge(Panel2);
    Gauge1->setFont(formFont());
    Gauge1->setGeometry(602 - 161 - 4, 4, 161, 16);

    pair(Panel4, Label10, "Label10", QStringLiteral("过滤总数"), Label11, "Label11", 6, 90, 3);
    pair(Panel4, Label12, "Label12", QStringLiteral("符合条件"), Label13, "Label13", 156, 90, 3);
    pair(Panel4, Label14, "Label14", QStringLiteral("剩余列表"), Label15, "Label15", 306, 90, 3);
    pair(Panel4, Label16, "Label16", QStringLiteral("无效列表"), Label17, "Label17", 456, 90, 3);
}

void TForm1::FormCreate() {
    blankStatistics();
    QPalette tip = QToolTip::palette();
    tip.setColor(QPalette::ToolTipBase, QColor(0, 255, 0));
    tip.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(tip);
    wireMinimize();
}

void TForm1::blankStatistics() {
    for (QLabel* l : {Label1, Label3, Label6, Label8, Label11, Label13, Label15, Label17})
        l->setText(QString());
}

void TForm1::closeEvent(QCloseEvent* e) {
    bool ok = false;
    vq::platform::guarded(this, [&] { ok = FormCloseQuery(); });
    if (!ok) {
        e->ignore();
        return;
    }
    Q_EMIT closing();
    e->accept();
}

bool TForm1::FormCloseQuery() {
    return services().confirm(this, QStringLiteral("退出VeskoQindra?"));
}

void TForm1::N3Click() {
    close();
}

void TForm1::N7Click() {
    N3Click();
}

void TForm1::N8Click() {
    // The help file sits beside the program and is opened by its plain name,
    // so the program's folder becomes (and stays) current.
    QByteArray dir = QFile::encodeName(QCoreApplication::applicationDirPath());
    if (chdir(dir.constData()) != 0) {
        const int err = errno; // before anything else can overwrite it
        throw vq::EInOutError(vq::codeFromErrno(err, dir.toStdString()));
    }
    // Help must always appear: without a viewer the pages open in a browser.
    const QString help = services().canOpenDocument(kHelpFile) ? kHelpFile : kHelpPages;
    services().openDocument(this, QStringLiteral("Open"), help);
}

void TForm1::N10Click() {
    setCursor(Qt::BusyCursor);
    services().openDocument(this, QStringLiteral("open"), kHomePage);
    setCursor(Qt::PointingHandCursor); // stays until the next home-page command
}

void TForm1::N22Click() {
    services().openDocument(this, QStringLiteral("Open"), kFeedback);
}

void TForm1::N11Click() {
    AboutBox->show();
    AboutBox->raise();
}

void TForm1::N24Click() {
    Form2->show();
    Form2->raise();
    Form2->activateWindow();
}

void TForm1::SpeedButton5Click() {
    N24Click();
}
void TForm1::SpeedButton4Click() {
    N5Click();
}
void TForm1::SpeedButton3Click() {
    N6Click();
}
void TForm1::SpeedButton8Click() {
    N13Click();
}
void TForm1::SpeedButton6Click() {
    N27Click();
}
void TForm1::SpeedButton2Click() {
    N8Click();
}
void TForm1::SpeedButton9Click() {
    N10Click();
}

// ---- the commands: each hands its work to its feature's window code ----

vq::checking::ListCheck& TForm1::listCheck() {
    if (!listCheck_) {
        vq::checking::CheckWindowParts parts;
        parts.window = this;
        parts.openDialog = &OpenDialog1;
        parts.saveDialog = &SaveDialog1;
        parts.total = Label1;
        parts.duplicates = Label3;
        parts.kept = Label6;
        parts.gauge = Gauge1;
        parts.progress = Form3;
        parts.blankStatistics = [this] { blankStatistics(); };
        parts.waitUntilShown = [this] { return waitWhileInTray(); };
        listCheck_ = std::make_unique<vq::checking::ListCheck>(std::move(parts));
    }
    return *listCheck_;
}

void TForm1::N6Click() {
    listCheck().start();
}

void TForm1::N4Click() {
    blankStatistics();
    vq::maintenance::runManualMerge(this, OpenDialog1, OpenDialog2, SaveDialog1, Panel1);
}

void TForm1::N5Click() {
    blankStatistics();
    vq::maintenance::runSplit(this, OpenDialog1, Label1, Label8);
}

void TForm1::N12Click() {
    blankStatistics();
    vq::maintenance::runSelfAdd(this, OpenDialog1);
}

namespace {

vq::filtering::FilterWindowParts filterParts(TForm1& form) {
    return {&form,        &form.OpenDialog1, &form.SaveDialog1, &form.SaveDialog2,
            form.Label11, form.Label13,      form.Label15,      form.Label17};
}

} // namespace

void TForm1::N13Click() {
    blankStatistics();
    vq::filtering::runFilter(filterParts(*this), vq::filtering::Rule::AnyRow, StringGrid2);
}

void TForm1::N27Click() {
    blankStatistics();
    vq::filtering::runFilter(filterParts(*this), vq::filtering::Rule::EveryRow, StringGrid3);
}

void TForm1::N29Click() {
    blankStatistics();
    vq::filtering::runSubtract({this, &OpenDialog1, &OpenDialog2, &SaveDialog1, &SaveDialog2,
                                Label11, Label13, Label15, Label17});
}

vq::filtering::DomainWindow& TForm1::domainWindow() {
    if (!domainWindow_)
        domainWindow_ = new vq::filtering::DomainWindow(
            this, [this](std::string_view bytes) { parameterModel(StringGrid2)->addBytes(bytes); });
    return *domainWindow_;
}

// Like the folder merger, the domain count shows its counts in a window of
// its own and leaves the statistics panel as it is.
void TForm1::N30Click() {
    vq::filtering::runDomainCount(this, OpenDialog1, domainWindow());
}

void TForm1::Button1Click() {
    vq::filtering::addParameter(StringGrid2, Edit1->text());
}

void TForm1::Button2Click() {
    vq::filtering::addParameter(StringGrid3, Edit2->text());
}

void TForm1::N16Click() {
    vq::filtering::deleteParameter(StringGrid2);
}

void TForm1::N17Click() {
    vq::filtering::deleteParameter(StringGrid3);
}

void TForm1::N18Click() {
    vq::filtering::importParameters(StringGrid2, this, OpenDialog1,
                                    QStringLiteral("选择或条件过滤参数文件"));
}

void TForm1::N20Click() {
    vq::filtering::importParameters(StringGrid3, this, OpenDialog1,
                                    QStringLiteral("选择与条件过滤参数文件"));
}

void TForm1::N19Click() {
    vq::filtering::exportParameters(StringGrid2, this, SaveDialog1);
}

void TForm1::N21Click() {
    vq::filtering::exportParameters(StringGrid3, this, SaveDialog1);
}
