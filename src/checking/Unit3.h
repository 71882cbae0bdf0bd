#pragma once
// TForm3, the progress window of the list check: a running count and a stop
// button. Closing it with its close box only hides it; the check goes on.
#include <QWidget>

class QLabel;
class QPushButton;

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    QLabel* Label1 = nullptr;       // "17 of Total 250..."
    QPushButton* Button1 = nullptr; // "终 止"

    void Button1Click(); // performs a click of the main window's Button3
};
