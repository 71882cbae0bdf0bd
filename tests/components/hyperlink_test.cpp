// TcwHyperLink: its colours under the pointer and after a press, what makes it
// repaint, and its size following the caption.
#include "components/cwHyperLink.h"
#include "support/scripted_services.h"

#include <QApplication>
#include <QEnterEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Counts the paints a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

class HyperLink : public ::testing::Test {
protected:
    HyperLink() {
        parent.resize(300, 60);
        link = new TcwHyperLink(&parent);
        link->move(10, 10);
        parent.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&parent));
        link->installEventFilter(&counter);
    }
    void enter() {
        QEnterEvent e(QPointF(2, 2), QPointF(12, 12), QPointF(12, 12));
        QApplication::sendEvent(link, &e);
    }
    void leave() {
        QEvent e(QEvent::Leave);
        QApplication::sendEvent(link, &e);
    }
    int paintsAfter(const std::function<void()>& change) {
        QApplication::processEvents();
        counter.paints = 0;
        change();
        QApplication::processEvents();
        return counter.paints;
    }

    vq::platform::ScopedScript run;
    QWidget parent;
    TcwHyperLink* link = nullptr;
    PaintCounter counter;
};

TEST(Colours, TranslateFromBlueGreenRedOrder) {
    EXPECT_EQ(colorToQColor(0x00A0B0C0), QColor(0xC0, 0xB0, 0xA0));
    EXPECT_EQ(colorToQColor(clBtnFace), QApplication::palette().color(QPalette::Button));
}

TEST_F(HyperLink, StartsBoldUnderlinedAndBlueOnTheButtonFace) {
    EXPECT_TRUE(link->DrawingFont().bold());
    EXPECT_TRUE(link->DrawingFont().underline());
    EXPECT_EQ(link->FontColor(), clBlue);
    EXPECT_EQ(link->LinkColor(), clBlue);
    EXPECT_EQ(link->Color(), clBtnFace);
    EXPECT_EQ(link->Caption(), link->URL());
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(HyperLink, TurnsRedUnderThePointerAndFuchsiaOnceOpened) {
    link->SetURL("https://www.example.com/x");
    struct Step {
        const char* what;
        std::function<void()> act;
        TColor font;
        TColor resting;
        int opened;
    };
    const Step steps[] = {
        {"enter", [this] { enter(); }, clRed, clBlue, 0},
        {"leave unopened", [this] { leave(); }, clBlue, clBlue, 0},
        {"enter again", [this] { enter(); }, clRed, clBlue, 0},
        {"press", [this] { QTest::mousePress(link, Qt::LeftButton, {}, QPoint(3, 3)); }, clRed,
         clFuchsia, 1},
        {"right press", [this] { QTest::mousePress(link, Qt::RightButton, {}, QPoint(3, 3)); },
         clRed, clFuchsia, 1},
        {"leave", [this] { leave(); }, clFuchsia, clFuchsia, 1},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.act();
        EXPECT_EQ(link->FontColor(), s.font);
        EXPECT_EQ(link->LinkColor(), s.resting);
        EXPECT_EQ(run.script.opened().size(), std::size_t(s.opened));
    }
    EXPECT_EQ(run.script.opened().front().toStdString(), "open https://www.example.com/x");
}

TEST_F(HyperLink, RepaintsOnlyForAChangeOfWhatItShows) {
    EXPECT_EQ(paintsAfter([this] { link->SetURL("https://other.example.com/"); }), 0);
    EXPECT_EQ(paintsAfter([this] { link->SetCaption(link->Caption()); }), 0);
    EXPECT_EQ(paintsAfter([this] { link->SetColor(clBtnFace); }), 0);
    link->SetFontName("DejaVu Sans");
    EXPECT_EQ(paintsAfter([this] { link->SetFontName("DejaVu Sans"); }), 0);
    EXPECT_GT(paintsAfter([this] { link->SetCaption("new caption"); }), 0);
    EXPECT_GT(paintsAfter([this] { link->SetColor(clFuchsia); }), 0);
    EXPECT_GT(paintsAfter([this] { link->SetFontName("DejaVu Serif"); }), 0);
    EXPECT_EQ(link->DrawingFont().family().toStdString(), "DejaVu Serif");
    EXPECT_TRUE(link->DrawingFont().bold()) << "a new face keeps the style";
}

TEST_F(HyperLink, SizesItselfToItsCaptionWhenPainted) {
    link->resize(40, 5);
    link->SetCaption("a caption much wider than forty pixels");
    link->repaint();
    QApplication::processEvents();
    const QFontMetrics m(link->DrawingFont());
    EXPECT_EQ(link->width(),
              m.horizontalAdvance(QStringLiteral("a caption much wider than forty pixels")) + 6);
    EXPECT_EQ(link->height(), m.height() + 2);
    const QImage shot = link->grab().toImage();
    EXPECT_EQ(shot.pixelColor(1, 1), colorToQColor(clBtnFace)) << "the background is the Color";
    bool blueText = false;
    for (int x = 0; x < shot.width() && !blueText; ++x)
        for (int y = 0; y < shot.height() && !blueText; ++y)
            blueText = shot.pixelColor(x, y) == QColor(0, 0, 255);
    EXPECT_TRUE(blueText) << "the caption is drawn in the link colour";
}

} // namespace
