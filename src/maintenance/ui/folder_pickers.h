#pragma once
// The folder-merge window's two pickers: a folder list (the current folder's
// path from the root, the folder itself, its sub-folders) and a drive list
// over the mounted file systems, each drive remembering its own folder.
#include <QComboBox>
#include <QListWidget>
#include <QString>
#include <vector>

class QLabel;

class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    // Absolute, without a trailing separator except for the root "/".
    const QString& directory() const { return directory_; }
    // Moves the list to path and makes it the process's current folder.
    // Throws EInOutError (the list stays where it was) when that fails.
    void setDirectory(const QString& path);
    // Shows the list's folder without touching the process's current folder
    // (the window starts at the folder that is already current).
    void showDirectory(const QString& path);

    // The label that shows the path, shortened in the middle to the list's width.
    void setDirLabel(QLabel* label);

    // Makes the folder of a row current, as a double-click does.
    void openRow(int row);

Q_SIGNALS:
    void directoryChanged(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void rebuild();
    void updateLabel();
    QString directory_;
    QLabel* dirLabel_ = nullptr;
};

class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget* parent = nullptr);

    // Follows the list's folder and moves it when the user picks a drive.
    void setDirList(TDirectoryListBox* list);
    // Root of the drive that holds path: the longest mounted root it lies under.
    int driveIndexOf(const QString& path) const;
    QString folderOf(int index) const { return drives_.at(static_cast<size_t>(index)).folder; }
    // What choosing a drive in the drop-down does.
    void chooseDrive(int index);

private:
    void followDirectory(const QString& path);
    struct Drive {
        QString root;
        QString folder; // the drive's current folder
    };
    std::vector<Drive> drives_;
    TDirectoryListBox* list_ = nullptr;
};
