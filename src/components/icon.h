#pragma once
// TIcon, an icon object that owns one picture and hands out a handle to it on
// demand, and TImageList, a numbered set of pictures to take icons from.
#include "platform/ui/notify_icon.h"

#include <QIcon>
#include <QObject>

#include <vector>

class TIcon {
public:
    TIcon() = default;
    ~TIcon();
    TIcon(const TIcon&) = delete;
    TIcon& operator=(const TIcon&) = delete;

    bool Empty() const { return picture_.isNull(); }
    // Copies the picture; a handle made for the old one is let go.
    void Assign(const QIcon& picture);
    void Clear() { Assign(QIcon()); }
    // Made on first use; 0 while the icon is empty.
    vq::platform::HICON Handle();
    const QIcon& picture() const { return picture_; }

private:
    QIcon picture_;
    vq::platform::HICON handle_ = 0;
};

class TImageList : public QObject {
    Q_OBJECT
public:
    explicit TImageList(QObject* owner = nullptr) : QObject(owner) {}
    // Returns the index of the added picture.
    int Add(const QIcon& picture);
    int Count() const { return static_cast<int>(images_.size()); }
    // Copies picture Index into Icon; an index outside the list leaves Icon
    // empty.
    void GetIcon(int Index, TIcon& Icon) const;

private:
    std::vector<QIcon> images_;
};
