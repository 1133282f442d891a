#pragma once
// The trend window: one chart per measured channel, stacked on one time axis, over the last hour,
// 24 hours, 7 or 30 days, or a chosen period. While the period ends now, the readings the
// recorder adds are appended every second. It reads "history.sqlite" through a read-only
// connection of its own, so it works whether or not a measurement runs, in this program or in
// another one.

#include "history/HistoryQuery.h"
#include "history/TrendQuery.h"

#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QBoxLayout;
class QComboBox;
class QImage;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;

namespace ui {
class Dialogs;
}

namespace history {

class TrendChart;

// A channel to chart: its number 0..3 and its tag (the chart's title).
struct TrendChannel {
    int channel = 0;
    QString tag;
    QString typeName;
};

class TrendWindow final : public QWidget {
    Q_OBJECT
public:
    enum class Range { LastHour, Day, Week, Month, Chosen };

    // `directory` holds "history.sqlite" (empty: the working directory). `programTitle` goes in
    // front of the window's title.
    TrendWindow(ui::Dialogs& dialogs, QString programTitle, QString directory, std::vector<TrendChannel> channels,
                QWidget* parent = nullptr);
    ~TrendWindow() override;

    // Caption, the last hour, show, read.
    void Form_Load();

    void setRange(Range range);
    // The chosen period [fromMs, toMs), as the from/to boxes and a zoom set it.
    void showPeriod(qint64 fromMs, qint64 toMs);
    void Back_Click();
    void SavePicture_Click();
    // Writes the charts as a PNG to `path`; false (after a message) when it could not.
    bool savePicture(const QString& path);
    // The line on top of a saved picture (and its PNG title): the installation and the period.
    QString pictureCaption() const;

    // A period is being read (loaded() follows).
    bool loading() const { return load_.has_value(); }

    // One second of the live view: the readings recorded since the last look are appended.
    void tick();

    Range range() const { return range_; }
    bool live() const { return range_ != Range::Chosen; }
    qint64 fromMs() const { return shownFrom_; }
    qint64 toMs() const { return shownTo_; }
    int columns() const { return grid_.columns; }
    // The buckets of the period: whole minutes from a whole minute for the long periods, so the
    // grid may begin a little before fromMs() and end a little after toMs().
    const TrendGrid& grid() const { return grid_; }
    int chartCount() const { return int(charts_.size()); }
    TrendChart* chart(int i) const { return charts_[std::size_t(i)]; }
    const TrendSeries& series(int i) const { return series_[std::size_t(i)]; }
    // The text shown instead of the charts, empty while they are shown.
    QString notice() const;
    QComboBox* RangeBox() const { return rangeBox_; }
    QPushButton* BackButton() const { return back_; }
    QPushButton* SaveButton() const { return save_; }
    QLabel* Status() const { return status_; }

signals:
    // A full read of the period ended (for the tests and the benchmark).
    void loaded();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct View {
        Range range;
        qint64 fromMs;
        qint64 toMs;
    };

    void build();
    // The controls on one row when `windowWidth` holds them, else one group under the other.
    void arrangeControls(int windowWidth);
    void rangeChosen(int index);
    void applyChosen();
    void zoomTo(qint64 fromMs, qint64 toMs);
    void setView(const View& view);
    void reload();
    void loadSome();
    void finishLoad();
    bool openHistory();
    void showNotice(const QString& text);
    int wantedColumns() const;
    QString historyPath() const;
    static QString chartTitle(const TrendChannel& channel, const RecordedLabel& recorded);
    QImage pictureImage() const;

    ui::Dialogs& dialogs_;
    QString programTitle_;
    QString directory_;
    std::vector<TrendChannel> channels_;
    ReadOnlyHistory history_;
    bool open_ = false;
    Range range_ = Range::LastHour;
    qint64 shownFrom_ = 0; // the period on the time axis; it moves on while live
    qint64 shownTo_ = 0;
    TrendGrid grid_;       // the period and columns of the last full read
    bool needReload_ = true;
    qint64 lastId_ = 0;
    bool loadedOnce_ = false;
    std::vector<TrendSeries> series_;
    std::vector<TrendChart*> charts_;
    std::vector<View> backStack_;
    // The period being read, channel after channel, slice after slice.
    struct Load {
        std::size_t chart = 0;
        qint64 sliceFrom = 0;
        qint64 bucketsPerSlice = 1;
        std::vector<TrendBucket> buckets;
        QString unit;
        int digits = -1;
        qint64 readings = 0;
    };
    std::optional<Load> load_;
    QTimer loadTimer_;
    QTimer live_;
    QTimer resized_;

    QBoxLayout* controls_ = nullptr;
    QComboBox* rangeBox_ = nullptr;
    QDateTimeEdit* from_ = nullptr;
    QDateTimeEdit* to_ = nullptr;
    QPushButton* show_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* save_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QLabel* notice_ = nullptr;
    QScrollArea* chartsScroll_ = nullptr;
    QWidget* chartsPage_ = nullptr; // the charts, in chartsScroll_
    QLabel* status_ = nullptr;
};

} // namespace history
