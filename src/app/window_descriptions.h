// The four windows as data: title, size, border, and every control with its
// name (the widget's objectName), kind, geometry, caption, font and initial
// state. BuildWindow turns a description into widgets.
#pragma once

#include <QString>
#include <memory>
#include <vector>

class QWidget;

namespace logdesk {

enum class ControlKind {
    PictureBox,
    LinkLabel,
    Label,
    Separator,
    Button,
    ReportList,
    DropDown,
    ListBox,
    CheckList,
    EditBox,
    TabStrip,
    PieChart,
    BarChart,
};

struct FontDescription {
    const char* face = nullptr; // nullptr: the default GUI font
    int pixelHeight = 0;
    bool bold = false;
};

struct ControlDescription {
    const char* name;
    ControlKind kind;
    int left, top, width, height;
    const char* caption = "";
    bool visible = true;
    bool enabled = true;
    FontDescription font{};
    bool handCursor = false;
    const char* container = nullptr;      // a picture box or a tab strip
    int page = -1;                        // the tab page, when the container is a tab strip
    std::vector<const char*> items{};     // drop-down entries, list entries, tab captions
    const char* image = nullptr;          // resource path of a picture box image
    std::vector<const char*> itemIcons{}; // tab icons
};

struct DialogDescription {
    const char* name;
    bool save;
    const char* title;  // "" for the platform's default
    const char* filter; // "desc|pattern|desc|pattern"
    int initialFilter;
    const char* defaultExtension;
};

struct WindowDescription {
    const char* name;
    const char* title;
    int outerWidth, outerHeight;
    bool resizable;
    bool maximizeBox;
    std::vector<ControlDescription> controls;
    std::vector<DialogDescription> dialogs;
};

const WindowDescription& MainWindowDescription();
const WindowDescription& ChartWindowDescription();
const WindowDescription& CsvExportWindowDescription();
const WindowDescription& StatsWindowDescription();

// The window frame the described outer sizes include; the client area is
// the outer size less this.
inline constexpr int kFrameWidth = 16;
inline constexpr int kFrameHeight = 39;

// Creates the controls of a description inside `window` (objectName = the
// control's name), sets the window's title, client size and border, and
// centres it on the screen.
void BuildWindow(QWidget* window, const WindowDescription& description);

const DialogDescription* FindDialog(const WindowDescription& description, const char* name);

struct FileDialog;
// The file dialog `name` of a window, as its description presets it.
std::unique_ptr<FileDialog> MakeFileDialog(const WindowDescription& description, const char* name);

} // namespace logdesk
