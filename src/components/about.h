#pragma once
// TAboutBox, the About window: the program's picture and name, a picture
// strip, links to the maker's web site and mail address, and an OFF switch
// that closes it. It is made once at start-up and only hidden between
// showings, so the links keep their colours.
#include <QWidget>

class QFrame;
class QLabel;
class QToolButton;
class TcwHyperLink;

class TAboutBox : public QWidget {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Image1 = nullptr;
    TcwHyperLink* cwHyperLink1 = nullptr;
    TcwHyperLink* cwHyperLink3 = nullptr;
    QToolButton* SpeedButton1 = nullptr;

    void SpeedButton1Click(); // closes, which only hides
    // The first showing centres the window over the main window; later ones
    // leave it where it was.
    void setVisible(bool visible) override;

private:
    void placeOverMainWindow();
    bool placed_ = false;
};
