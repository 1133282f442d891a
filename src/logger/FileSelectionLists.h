#pragma once
// The three lists of the extraction window's file selection: drives, the directory tree of the
// chosen drive, and the files of the chosen directory that match a pattern.

#include <QComboBox>
#include <QListWidget>

#include <functional>

namespace logger {

// The drive list; it asks for the drives again each time it opens, so that a card inserted
// meanwhile appears.
class DriveList final : public QComboBox {
    Q_OBJECT
public:
    using Source = std::function<QStringList()>;
    explicit DriveList(Source source, QWidget* parent = nullptr);

    void refresh();
    QString drive() const { return currentText(); }
    QStringList drives() const;
    // Shows `drive` without running the change handler.
    void showDrive(const QString& drive);

    void showPopup() override;

signals:
    // The user chose another drive.
    void driveChosen(const QString& drive);

private:
    Source source_;
};

// The directory list: the path's ancestors from the root down, the path itself, and its
// subdirectories. Double-click or Enter on an entry opens it.
class DirectoryList final : public QListWidget {
    Q_OBJECT
public:
    explicit DirectoryList(QWidget* parent = nullptr);

    QString path() const { return path_; }
    // False, and nothing changes, when the directory does not exist or cannot be read.
    bool setPath(const QString& path);

signals:
    void pathChanged(const QString& path);
    void cannotOpen(const QString& path);

private:
    void rebuild();

    QString path_;
};

// The file list: the names of the directory's files that match the pattern, sorted.
class FileList final : public QListWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);

    QString path() const { return path_; }
    void setPath(const QString& path);
    QString pattern() const { return pattern_; }
    void setPattern(const QString& pattern);
    void refresh();
    // The name currently selected in the list; empty when none is.
    QString selectedName() const;

private:
    QString path_;
    QString pattern_ = QStringLiteral("*.*");
};

} // namespace logger
