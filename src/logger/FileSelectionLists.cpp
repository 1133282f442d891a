#include "logger/FileSelectionLists.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStyle>

namespace logger {

namespace {
constexpr int kIndent = 2; // spaces per level of the directory tree
}

DriveList::DriveList(Source source, QWidget* parent)
    : QComboBox(parent)
    , source_(std::move(source))
{
    connect(this, &QComboBox::activated, this, [this](int index) {
        setCurrentIndex(index);
        emit driveChosen(itemText(index));
    });
    refresh();
}

void DriveList::refresh()
{
    const QString current = currentText();
    const QSignalBlocker blocker(this);
    clear();
    addItems(source_());
    showDrive(current);
}

void DriveList::showDrive(const QString& drive)
{
    const QSignalBlocker blocker(this);
    if (findText(drive) < 0 && !drive.isEmpty())
        addItem(drive);
    setCurrentIndex(findText(drive));
}

QStringList DriveList::drives() const
{
    QStringList result;
    for (int i = 0; i < count(); ++i)
        result << itemText(i);
    return result;
}

void DriveList::showPopup()
{
    refresh();
    QComboBox::showPopup();
}

DirectoryList::DirectoryList(QWidget* parent)
    : QListWidget(parent)
{
    connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const QString target = item->data(Qt::UserRole).toString();
        if (!setPath(target))
            emit cannotOpen(target);
    });
}

bool DirectoryList::setPath(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir() || !info.isReadable() || !QDir(path).isReadable())
        return false;
    const QString clean = QDir::cleanPath(info.absoluteFilePath());
    const bool changed = clean != path_;
    path_ = clean;
    rebuild();
    if (changed)
        emit pathChanged(path_);
    return true;
}

void DirectoryList::rebuild()
{
    clear();
    const QIcon open = QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = QApplication::style()->standardIcon(QStyle::SP_DirClosedIcon);

    QStringList chain; // from the root down to the path
    QDir dir(path_);
    chain.prepend(dir.absolutePath());
    while (dir.cdUp())
        chain.prepend(dir.absolutePath());

    int depth = 0;
    QListWidgetItem* currentEntry = nullptr;
    for (const QString& step : chain) {
        const QString name = QDir(step).isRoot() ? QDir::toNativeSeparators(step) : QFileInfo(step).fileName();
        auto* item = new QListWidgetItem(open, QString(depth * kIndent, QLatin1Char(' ')) + name, this);
        item->setData(Qt::UserRole, step);
        currentEntry = item;
        ++depth;
    }
    const QStringList children = QDir(path_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& child : children) {
        auto* item = new QListWidgetItem(closed, QString(depth * kIndent, QLatin1Char(' ')) + child, this);
        item->setData(Qt::UserRole, QDir(path_).absoluteFilePath(child));
    }
    setCurrentItem(currentEntry);
}

FileList::FileList(QWidget* parent)
    : QListWidget(parent)
{
}

void FileList::setPath(const QString& path)
{
    path_ = path;
    refresh();
}

void FileList::setPattern(const QString& pattern)
{
    pattern_ = pattern;
    refresh();
}

void FileList::refresh()
{
    clear();
    if (path_.isEmpty())
        return;
    // Case does not matter: a logger card formatted elsewhere may hold "VIRLZENT.LOG".
    addItems(QDir(path_).entryList({pattern_}, QDir::Files, QDir::Name | QDir::IgnoreCase));
    setCurrentRow(-1);
}

QString FileList::selectedName() const
{
    const QListWidgetItem* item = currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

} // namespace logger
