#pragma once
// Gauge1: a horizontal progress bar that prints "%d%%" centred on itself.
#include <QWidget>
#include <cstdint>

class TGauge : public QWidget {
    Q_OBJECT
public:
    explicit TGauge(QWidget* parent = nullptr);
    void setMaxValue(int64_t v);
    void setProgress(int64_t v); // held within [min, max]
    int64_t maxValue() const { return max_; }
    int64_t progress() const { return progress_; }
    // progress x 100 / maximum, truncated; 0 when the maximum is 0.
    int percentDone() const;
    QString text() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int64_t min_ = 0, max_ = 100, progress_ = 0;
};
