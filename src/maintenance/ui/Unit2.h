#pragma once
// TForm2, the folder-merge window: merges every list file of the folder
// chosen in its folder list into one output, lower-casing ASCII letters, and
// shows the running count in Label2.
#include "platform/ui/services.h"

#include <QPointer>
#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;
class TDirectoryListBox;
class TDriveComboBox;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr; // the folder list's path, shortened in the middle
    QLabel* Label2 = nullptr; // the running count
    TDirectoryListBox* DirectoryListBox1 = nullptr;
    TDriveComboBox* DriveComboBox1 = nullptr;
    QPushButton* Button1 = nullptr; // "开始合并"
    QPushButton* Button2 = nullptr; // "取消合并"
    // The window's own save dialog, separate from the main window's.
    vq::platform::FileDialog SaveDialog1;
    // Repainted with this window when a merge starts.
    QPointer<QWidget> mainWindow;

    void Button1Click(); // the merge
    void Button2Click(); // hides the window

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void showCount(int64_t count);
    bool centred_ = false;
};
