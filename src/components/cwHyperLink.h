#pragma once
// TcwHyperLink: a one-line label in a bold, underlined blue face that turns
// red under the mouse pointer and, on a left-button press, hands its URL to
// the document opener; from then on its resting colour is fuchsia. It has no
// native window of its own and sizes itself to its caption whenever it paints.
#include <QFont>
#include <QWidget>

#include <cstdint>
#include <string>

// A colour in blue-green-red order; 0x80000000 plus an index names a colour
// of the desktop's scheme.
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clBtnFace = 0x8000000F;

QColor colorToQColor(TColor color);

class TcwHyperLink : public QWidget {
    Q_OBJECT
public:
    // What a new label opens and shows until told otherwise.
    static constexpr const char* kDefaultURL = "https://www.example.com/";

    explicit TcwHyperLink(QWidget* AOwner = nullptr);
    ~TcwHyperLink() override;

    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& Value);
    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    const std::string& FontName() const { return FFontName; }
    void SetFontName(const std::string& Value);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool Value);
    const QString& Hint() const { return FHint; }
    void SetHint(const QString& Value);

    // The resting colour: blue, fuchsia once the link has been opened.
    TColor LinkColor() const { return FLinkColor; }
    // The face the caption is drawn in and its current colour.
    const QFont& DrawingFont() const { return FFont; }
    TColor FontColor() const { return FFontColor; }

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    TColor FLinkColor = clBlue;
    std::string FURL;
    std::string FCaption;
    TColor FColor = clBtnFace;
    std::string FFontName;
    QFont FFont;
    TColor FFontColor = clBlack;
    bool FShowHint = false;
    QString FHint;
};
