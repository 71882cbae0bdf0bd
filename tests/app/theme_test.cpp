// Legible under a dark desktop palette: every caption, value, entry and link
// text of the main window, the progress window and the About window is
// measured on the rendered pixels against the colour behind it.
#include "app/Unit1.h"
#include "checking/ui/Unit3.h"
#include "components/about.h"
#include "components/cwHyperLink.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {

double luminance(QRgb c) {
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour behind a text is the most frequent one of its box; the text's
// own is the pixel that stands out most from it (the core of a stroke, not
// its anti-aliased edge).
double textContrast(const QImage& shot, QRect box) {
    std::map<QRgb, int> counts;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            ++counts[shot.pixel(x, y)];
    if (counts.empty()) return 0;
    const QRgb behind = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                            return a.second < b.second;
                        })->first;
    double best = 1;
    for (const auto& [colour, n] : counts)
        best = std::max(best, contrast(colour, behind));
    return best;
}

// A dark palette as desktop themes give it (qt6ct's "darker" is of this kind).
QPalette darkPalette() {
    QPalette p;
    const QColor face(53, 53, 53), base(35, 35, 35), light(230, 230, 230);
    p.setColor(QPalette::Window, face);
    p.setColor(QPalette::WindowText, light);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, face);
    p.setColor(QPalette::Text, light);
    p.setColor(QPalette::Button, face);
    p.setColor(QPalette::ButtonText, light);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::ToolTipBase, face);
    p.setColor(QPalette::ToolTipText, light);
    p.setColor(QPalette::Light, QColor(80, 80, 80));
    p.setColor(QPalette::Midlight, QColor(66, 66, 66));
    p.setColor(QPalette::Mid, QColor(40, 40, 40));
    p.setColor(QPalette::Dark, QColor(25, 25, 25));
    p.setColor(QPalette::Shadow, Qt::black);
    return p;
}

class DarkTheme : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = QApplication::palette();
        QApplication::setPalette(darkPalette());
        createApplicationWindows();
    }
    void TearDown() override {
        destroyApplicationWindows();
        QApplication::setPalette(saved_);
    }

    // Shows `window`, renders it and checks every text widget in it. With
    // VQ_THEME_SHOTS set to a folder, the rendering is kept there as name.png,
    // and on a display (xvfb-run) the whole screen as name_screen.png.
    void expectLegible(QWidget* window, const char* name) {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        QApplication::processEvents();
        const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const qreal scale = shot.devicePixelRatio();
        if (const char* folder = std::getenv("VQ_THEME_SHOTS")) {
            shot.save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
            if (QGuiApplication::platformName() == QLatin1String("xcb")) {
                QTest::qWait(300); // let the window manager map and paint it
                const std::string cmd =
                    std::string("import -window root '") + folder + "/" + name + "_screen.png'";
                EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
            }
        }
        int measured = 0;
        for (QWidget* w : window->findChildren<QWidget*>()) {
            auto* label = qobject_cast<QLabel*>(w);
            auto* edit = qobject_cast<QLineEdit*>(w);
            const bool text = (label && !label->text().isEmpty()) ||
                              (edit && !edit->text().isEmpty()) || qobject_cast<TcwHyperLink*>(w);
            if (!text || !w->isVisible()) continue;
            // Inside the frame of an entry box only its text and base remain.
            const int inset = edit ? 3 : 0;
            const QRect box(w->mapTo(window, QPoint(inset, inset)) * scale,
                            (w->size() - QSize(2 * inset, 2 * inset)) * scale);
            const double c = textContrast(shot, box & shot.rect());
            EXPECT_GE(c, 3.0) << name << " " << w->metaObject()->className() << " "
                              << w->objectName().toStdString();
            ++measured;
        }
        EXPECT_GT(measured, 0) << name;
    }

private:
    QPalette saved_;
};

TEST_F(DarkTheme, MainWindowCaptionsValuesAndEntries) {
    // Counts in every value, as after a run.
    for (QLabel* l : {Form1->Label1, Form1->Label3, Form1->Label6, Form1->Label8, Form1->Label11,
                      Form1->Label13, Form1->Label15, Form1->Label17})
        l->setText(QStringLiteral("12345678"));
    expectLegible(Form1, "main_window");
}

TEST_F(DarkTheme, ProgressWindow) {
    Form3->Label1->setText(QStringLiteral("17 of Total 250..."));
    expectLegible(Form3, "progress_window");
}

TEST_F(DarkTheme, AboutWindow) {
    expectLegible(AboutBox, "about_window");
}

} // namespace
