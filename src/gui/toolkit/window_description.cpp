#include "window_description.h"

#include <string_view>

#include "controls.h"

#include <QApplication>
#include <QChartView>
#include <QGuiApplication>
#include <QHeaderView>
#include <QProgressBar>
#include <QScreen>
#include <QWidget>
#include <cstring>
#include <string_view>

namespace logdesk {

const DialogDescription* FindDialog(const WindowDescription& description, const char* name) {
    for (const DialogDescription& dialog : description.dialogs) {
        if (std::strcmp(dialog.name, name) == 0) {
            return &dialog;
        }
    }
    return nullptr;
}

std::unique_ptr<FileDialog> MakeFileDialog(const WindowDescription& description, const char* name) {
    auto dialog = std::make_unique<FileDialog>();
    if (const DialogDescription* d = FindDialog(description, name)) {
        dialog->save = d->save;
        dialog->title = QString::fromUtf8(d->title);
        dialog->filter = QString::fromUtf8(d->filter);
        dialog->initialFilter = d->initialFilter;
        dialog->defaultExtension = QString::fromUtf8(d->defaultExtension);
        dialog->multiple = d->multiple;
    }
    return dialog;
}

std::unique_ptr<FileDialog> BuiltWindow::dialog(const char* name) const {
    return MakeFileDialog(description_, name);
}

namespace {

QFont FontFor(const FontDescription& font) {
    // Controls without a font of their own take the default GUI font, not
    // their container's (a button on a tab strip is not bold).
    if (font.face == nullptr) {
        QFont f = QApplication::font();
        f.setResolveMask(QFont::AllPropertiesResolved); // stop inheriting from the parent
        return f;
    }
    QFont f = QApplication::font();
    // 黑体 and 宋体 are rarely installed on Linux; fall back on a CJK face of
    // the same style.
    const QString face = QString::fromUtf8(font.face);
    if (face == QStringLiteral("黑体")) {
        f.setFamilies({face, QStringLiteral("SimHei"), QStringLiteral("WenQuanYi Micro Hei"),
                       QStringLiteral("Noto Sans CJK SC")});
    } else {
        f.setFamilies({face, QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                       QStringLiteral("Noto Serif CJK SC")});
    }
    f.setPixelSize(font.pixelHeight);
    f.setBold(font.bold);
    return f;
}

QWidget* CreateControl(const ControlDescription& c, QWidget* parent) {
    const QString caption = QString::fromUtf8(c.caption);
    switch (c.kind) {
    case ControlKind::PictureBox: {
        auto* box = new PictureBox(parent);
        if (c.image != nullptr) {
            box->setPixmap(QPixmap(QString::fromUtf8(c.image)));
        }
        return box;
    }
    case ControlKind::LinkLabel: {
        auto* link = new LinkLabel(parent);
        link->setCaption(caption);
        return link;
    }
    case ControlKind::Label:
        return new Label(caption, parent);
    case ControlKind::Separator: {
        auto* line = new Label(parent);
        line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
        return line;
    }
    case ControlKind::Button:
        return new Button(caption, parent);
    case ControlKind::ReportList:
        return new ReportList(parent);
    case ControlKind::DropDown: {
        auto* box = new DropDown(parent);
        for (const char* item : c.items) {
            box->addItem(QString::fromUtf8(item));
        }
        box->setCurrentIndex(0);
        return box;
    }
    case ControlKind::ListBox: {
        auto* list = new ListBox(parent);
        for (const char* item : c.items) {
            list->addEntry(QString::fromUtf8(item));
        }
        return list;
    }
    case ControlKind::CheckList:
        return new CheckList(parent);
    case ControlKind::EditBox:
        return new EditBox(caption, parent);
    case ControlKind::TabStrip: {
        auto* tabs = new TabStrip(parent);
        for (std::size_t i = 0; i < c.items.size(); ++i) {
            const int index = tabs->addTab(QString::fromUtf8(c.items[i]));
            if (i < c.itemIcons.size()) {
                tabs->setTabIcon(index, QIcon(QString::fromUtf8(c.itemIcons[i])));
            }
        }
        if (!c.itemIcons.empty()) {
            // 24 pixels: a tab strip 36 high draws no bigger an icon, and the
            // captions of four tabs in a bold 19-pixel face need the rest of
            // their width, with the padding that keeps a caption's last
            // character clear of the next tab.
            tabs->setIconSize(QSize(24, 24));
        }
        return tabs;
    }
    case ControlKind::PieChart:
    case ControlKind::BarChart:
    case ControlKind::LineChart: {
        auto* view = new QChartView(parent);
        view->setRenderHint(QPainter::Antialiasing);
        view->chart()->setTitle(caption);
        return view;
    }
    case ControlKind::CheckBox:
        return new CheckBox(caption, parent);
    case ControlKind::CheckBoxGroup:
        return new CheckBoxGroup(parent);
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 1000);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    }
    return nullptr;
}

} // namespace

void BuildWindow(QWidget* window, const WindowDescription& description) {
    window->setObjectName(QString::fromUtf8(description.name));
    window->setWindowTitle(QString::fromUtf8(description.title));
    const QSize client(description.outerWidth - kFrameWidth,
                       description.outerHeight - kFrameHeight);
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if (description.maximizeBox) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    window->setWindowFlags(flags);
    if (description.resizable) {
        window->resize(client);
    } else {
        window->setFixedSize(client);
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() -
                     QPoint(description.outerWidth / 2, description.outerHeight / 2));
    }

    for (const ControlDescription& c : description.controls) {
        QWidget* parent = window;
        if (c.container != nullptr) {
            parent = window->findChild<QWidget*>(QString::fromUtf8(c.container));
        }
        QWidget* control = CreateControl(c, parent);
        control->setObjectName(QString::fromUtf8(c.name));
        control->setGeometry(c.geometry.rect());
        control->setFont(FontFor(c.font));
        if (c.handCursor) {
            control->setCursor(Qt::PointingHandCursor);
        }
        control->setEnabled(c.enabled);
        if (auto* tabs = qobject_cast<TabStrip*>(parent); tabs != nullptr && c.page >= 0) {
            tabs->addToPage(c.page, control);
            control->setGeometry(c.geometry.rect());
        } else {
            control->setVisible(c.visible);
        }
    }
    for (TabStrip* tabs : window->findChildren<TabStrip*>()) {
        tabs->fitTabs();
    }
    FitWindowToControls(window, description);
}

namespace {

// What a user clicks or reads, which must never fall off the window's edge.
// Lists and charts follow the window's size, and the window places its tab
// strips, pictures and lines as it is resized.
bool KeepsItsPlace(ControlKind kind) {
    switch (kind) {
    case ControlKind::Button:
    case ControlKind::DropDown:
    case ControlKind::CheckBox:
    case ControlKind::EditBox:
    case ControlKind::Label:
    case ControlKind::LinkLabel:
        return true;
    default:
        return false;
    }
}

bool Stretches(ControlKind kind) {
    return kind == ControlKind::ReportList || kind == ControlKind::PieChart ||
           kind == ControlKind::BarChart || kind == ControlKind::LineChart;
}

} // namespace

QSize LeastClientSize(const WindowDescription& description) {
    QRect least;
    for (const ControlDescription& c : description.controls) {
        QRect place = c.geometry.rect();
        if (c.container != nullptr) {
            // A page of a tab strip or a picture box: one level down.
            for (const ControlDescription& holder : description.controls) {
                if (std::string_view(holder.name) == c.container) {
                    place.translate(holder.geometry.rect().topLeft());
                }
            }
        }
        if (KeepsItsPlace(c.kind)) {
            least |= place;
        } else if (Stretches(c.kind) && c.container == nullptr) {
            // The windows keep a list's left margin on its right and below it.
            least |= QRect(0, 0, 2 * place.x() + kLeastStretchedRoom.width(),
                           place.y() + kLeastStretchedRoom.height() + place.x());
        }
    }
    return least.isEmpty() ? QSize() : QSize(least.right() + 1, least.bottom() + 1);
}

void FitWindowToControls(QWidget* window, const WindowDescription& description) {
    // A button's last pixel is inside the client area, not cut off by a
    // frame a pixel wider than the one the layout was drawn for.
    const QSize least = LeastClientSize(description);
    const QSize wanted = window->size().expandedTo(least);
    if (description.resizable) {
        window->setMinimumSize(least);
        window->resize(wanted);
    } else {
        window->setFixedSize(wanted);
    }
}

} // namespace logdesk
