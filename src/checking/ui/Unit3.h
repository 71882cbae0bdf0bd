#pragma once
// TForm3, the progress window of the list check: a running count and a stop
// button. Closing it with its close box only hides it; the check goes on.
#include "checking/ui/hidden_button.h"

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

    // The main window's hidden Button3, which the list check wires to its
    // stop; "终 止" performs a click of it.
    THiddenButton* stopButton = nullptr;
    void Button1Click();
};
