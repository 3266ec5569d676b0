// The control kinds the windows are made of, each a small class over a Qt
// widget with the operations the windows use. Reads at an index out of range
// give "", -1 or false; writes there do nothing.
#pragma once

#include "ui_seam.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTableView>
#include <QUrl>
#include <vector>

namespace logdesk {

class Button : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;
    void setCaption(const QString& caption) { setText(caption); }
    QString caption() const { return text(); }
};

// A box with its caption beside it, ticked or not.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
};

// Check boxes in rows of equal cells, as many a row as the group is wide
// (one at least), scrolling down when the rows need more height than it
// has. The entries are made and replaced whole.
class CheckBoxGroup : public QScrollArea {
    Q_OBJECT
public:
    explicit CheckBoxGroup(QWidget* parent = nullptr);
    // One box per caption, checked where `checked` says (unchecked beyond
    // it), with the icon of the same index where there is one. Toggles of
    // the old boxes are not reported.
    void setEntries(const QStringList& captions, const std::vector<bool>& checked,
                    const QList<QIcon>& icons = {});
    int entryCount() const { return static_cast<int>(boxes_.size()); }
    // nullptr out of range.
    CheckBox* entry(int index) const;
    // The height that shows every row when the group is `width` wide, its
    // frame included; 0 without entries.
    int contentHeight(int width) const;

signals:
    // The user or the program changed the box of entry `index`.
    void entryToggled(int index, bool on);

protected:
    bool viewportEvent(QEvent* event) override;

private:
    QSize cellSize() const;
    int columnsFor(int innerWidth) const;
    void placeEntries();

    QWidget* content_; // owned by the scroll area
    std::vector<CheckBox*> boxes_;
};

class Label : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
};

class EditBox : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
};

// An image drawn at the top-left corner; may hold child controls.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);
signals:
    void leftPressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// A caption in link style. A left click opens the target URL; one without a
// target only reports the press.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(QWidget* parent = nullptr);
    void setTarget(const QUrl& target) { target_ = target; }
    const QUrl& target() const { return target_; }
    void setCaption(const QString& caption);
signals:
    void leftPressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QUrl target_;
};

// A drop-down list that cannot be edited.
class DropDown : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    int currentEntry() const { return currentIndex(); }
};

class ListBox : public QListWidget {
    Q_OBJECT
public:
    using QListWidget::QListWidget;
    int addEntry(const QString& text);
    int entryCount() const { return count(); }
    QString entryText(int index) const;
    int currentEntry() const { return currentRow(); }
signals:
    void rightPressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// Entries with a check mark and an integer data value each.
class CheckList : public QListWidget {
    Q_OBJECT
public:
    using QListWidget::QListWidget;
    int addEntry(const QString& text, int value);
    int entryCount() const { return count(); }
    QString entryText(int index) const;
    void setEntryText(int index, const QString& text);
    int entryData(int index) const;
    void setEntryData(int index, int value);
    bool checked(int index) const;
    void setChecked(int index, bool on);
    int currentEntry() const { return currentRow(); }
    void setCurrentEntry(int index) { setCurrentRow(index); }
};

// Tabs with per-tab child controls; the controls of a page are children of
// the strip and shown only while their tab is current.
class TabStrip : public QTabBar {
    Q_OBJECT
public:
    explicit TabStrip(QWidget* parent = nullptr);
    // Puts a control on the page of a tab (0-based).
    void addToPage(int tab, QWidget* control);
    void showCurrentPage();
    // Narrows the padding around the tabs' icons and texts, one pixel at a
    // time down to none, until the tabs end left of every page control and
    // each is no taller than the strip; the style's own padding where they
    // fit. Call again after the tabs, their font or the geometries changed.
    void fitTabs();
signals:
    void rightClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    class PaddingStyle;
    std::vector<std::pair<int, QWidget*>> pageControls_;
    PaddingStyle* padding_ = nullptr; // owned as a child of the strip
};

// A list in report mode over a model; -1 means no row.
class ReportList : public QTableView {
    Q_OBJECT
public:
    explicit ReportList(QWidget* parent = nullptr);
    int columnCount() const;
    QString columnTitle(int column) const;
    int rowCount() const;
    QString cellText(int row, int column) const;
    int selectedRow() const;
    void setSelectedRow(int row);
    void makeRowVisible(int row);
    // Fits each column to the larger of its title and the given cell text
    // (one longest cell per column, measured instead of every cell); column
    // 0 gets 4 pixels more.
    void fitColumns(const QStringList& longestCells);
    // Widens a column, never narrows it, so that a cell text written later
    // (an IP's location) shows whole.
    void widenColumnFor(int column, const QString& text);
signals:
    void headerClicked(int column);
    // A right click on the column titles.
    void headerRightClicked();
    void rowRightClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// What a file dialog is asked with, in the "desc|pattern|desc|pattern" form;
// the chosen name is kept for the next showing.
struct FileDialog {
    bool save = false;
    QString title;
    QString filter;
    int initialFilter = 0;
    QString defaultExtension;
    // An open dialog in which several files may be picked.
    bool multiple = false;
    QString fileName;
    // Every file confirmed, fileName first; one for a dialog that is not
    // `multiple`.
    QStringList fileNames;

    // True when the user confirmed a file; fileName then holds it, with the
    // default extension appended to a name typed without one (a name with no
    // "." at all; "x." is taken as typed). A save dialog has asked before
    // naming an existing file, with the extension in place.
    bool show(QWidget* parent);
};

// "IIS日志文件(ex*.log)|ex*.log|..." in the form Qt's dialogs take.
QString QtFilter(const QString& pipeFilter);

} // namespace logdesk
