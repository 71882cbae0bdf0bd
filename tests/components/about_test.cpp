// The About window's pictures, decoded by our JPEG decoder, and the window
// itself: its parts, the first placement, and closing that only hides.
#include "components/about.h"
#include "components/cwHyperLink.h"
#include "components/jpeg_decode.h"
#include "components/pictures.h"
#include "support/scripted_services.h"

#include <QBuffer>
#include <QImageReader>
#include <QLabel>
#include <QMainWindow>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using vq::components::decodeJpeg;
using vq::components::embeddedPicture;

namespace {

TEST(JpegDecoder, DecodesTheEmbeddedPicturesLikeAnIndependentReader) {
    struct Case {
        const char* name;
        QSize size;
    };
    for (const Case& c :
         {Case{"program_picture.jpg", {66, 46}}, Case{"picture_strip.jpg", {188, 18}}}) {
        SCOPED_TRACE(c.name);
        const QByteArray data = embeddedPicture(QString::fromLatin1(c.name));
        ASSERT_FALSE(data.isEmpty());
        const QImage ours = decodeJpeg(data);
        ASSERT_EQ(ours.size(), c.size);
        if (!QImageReader::supportedImageFormats().contains("jpeg")) continue;
        EXPECT_EQ(ours, QImage::fromData(data, "JPEG").convertToFormat(QImage::Format_RGB888));
    }
}

TEST(JpegDecoder, RefusesDamagedDataWithAClearFailure) {
    const QByteArray good = embeddedPicture(QStringLiteral("program_picture.jpg"));
    QByteArray huge = good;
    // The frame header's height and width fields, raised to 60000 x 60000.
    const int sof = good.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0xEA), huge[sof + 6] = char(0x60);
    huge[sof + 7] = char(0xEA), huge[sof + 8] = char(0x60);
    const QByteArray cases[] = {
        QByteArray(),
        QByteArray("not a picture at all"),
        good.left(20),              // header cut short
        good.left(good.size() / 2), // data cut short
        huge,
    };
    for (const QByteArray& data : cases) {
        SCOPED_TRACE(data.size());
        try {
            decodeJpeg(data);
            ADD_FAILURE() << "decoded damaged data";
        } catch (const EJPEG& e) {
            EXPECT_EQ(std::string(e.what()).rfind("JPEG error: ", 0), 0u) << e.what();
        }
    }
}

class AboutWindow : public ::testing::Test {
protected:
    AboutWindow() {
        main.setGeometry(100, 80, 602, 370);
        main.show();
        box = new TAboutBox;
    }
    ~AboutWindow() override { delete box; }
    vq::platform::ScopedScript run;
    QMainWindow main;
    TAboutBox* box = nullptr;
};

TEST_F(AboutWindow, ShowsTheDecodedPicturesAndStartsHidden) {
    EXPECT_EQ(box->ProgramIcon->pixmap().size(), QSize(66, 46));
    EXPECT_EQ(box->Image1->pixmap().size(), QSize(188, 18));
    EXPECT_FALSE(box->SpeedButton1->icon().isNull());
    EXPECT_FALSE(box->isVisible());
}

TEST_F(AboutWindow, FirstShowingCentresOverTheMainWindowLaterOnesKeepThePlace) {
    box->show();
    EXPECT_EQ(box->frameGeometry().center(), main.frameGeometry().center());
    box->move(5, 6);
    box->SpeedButton1->click();
    EXPECT_FALSE(box->isVisible());
    box->show();
    EXPECT_EQ(box->pos(), QPoint(5, 6));
}

TEST_F(AboutWindow, ClosingOnlyHidesSoTheLinksKeepTheirColours) {
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    QTest::mousePress(box->cwHyperLink3, Qt::LeftButton, {}, QPoint(3, 3));
    ASSERT_EQ(run.script.opened().size(), 1u);
    EXPECT_EQ(run.script.opened().front().toStdString(), "open mailto:veskoqindra@example.com");
    box->close();
    EXPECT_FALSE(box->isVisible());
    box->show();
    EXPECT_EQ(box->cwHyperLink3->LinkColor(), clFuchsia);
    EXPECT_EQ(box->cwHyperLink1->LinkColor(), clBlue);
}

} // namespace
