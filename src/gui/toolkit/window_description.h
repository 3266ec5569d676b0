// The windows as data: title, size, border, and every control with its
// name (the widget's objectName), kind, geometry, caption, font and initial
// state. BuildWindow turns a description into widgets.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

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
    LineChart,
    CheckBox,
    CheckBoxGroup, // check boxes made at run time, in rows that wrap and scroll
    ProgressBar,   // 0 to 1000, no text: as BackgroundTask::showProgressOn fills it
};

struct FontDescription {
    const char* face = nullptr; // nullptr: the default GUI font
    int pixelHeight = 0;
    bool bold = false;
};

// Pixels, in the client area of the control's container.
struct Geometry {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    QRect rect() const { return {left, top, width, height}; }
};

struct ControlDescription {
    const char* name = nullptr;
    ControlKind kind = ControlKind::Label;
    Geometry geometry;
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
    const char* name = nullptr;
    bool save = false;
    const char* title = "";  // "" for the platform's default
    const char* filter = ""; // "desc|pattern|desc|pattern"
    int initialFilter = 0;
    const char* defaultExtension = "";
    bool multiple = false; // an open dialog in which several files may be picked
};

struct WindowDescription {
    const char* name = nullptr;
    const char* title = "";
    int outerWidth = 0;
    int outerHeight = 0;
    bool resizable = false;
    bool maximizeBox = false;
    std::vector<ControlDescription> controls;
    std::vector<DialogDescription> dialogs;
};

// The fonts the layouts use.
inline constexpr FontDescription kHei29{"黑体", 29, false};
inline constexpr FontDescription kHei29Bold{"黑体", 29, true};
inline constexpr FontDescription kHei19Bold{"黑体", 19, true};
inline constexpr FontDescription kSong19Bold{"宋体", 19, true};
inline constexpr FontDescription kSong16Bold{"宋体", 16, true};
inline constexpr FontDescription kSong16{"宋体", 16, false};
inline constexpr FontDescription kSong12{"宋体", 12, false};

// The window frame the described outer sizes include; the client area is
// the outer size less this.
inline constexpr int kFrameWidth = 16;
inline constexpr int kFrameHeight = 39;

// The least room a list or chart keeps when its window is made smaller.
inline constexpr QSize kLeastStretchedRoom{120, 60};

// Creates the controls of a description inside `window` (objectName = the
// control's name), sets the window's title, client size and border, and
// centres it on the screen; then FitWindowToControls.
void BuildWindow(QWidget* window, const WindowDescription& description);

// The least client area in which every button, box and text of the window
// shows whole, and each list and chart keeps kLeastStretchedRoom.
QSize LeastClientSize(const WindowDescription& description);
// Makes the client area at least that: the least size of a resizable
// window, the size of a fixed one when its layout's is smaller.
void FitWindowToControls(QWidget* window, const WindowDescription& description);

const DialogDescription* FindDialog(const WindowDescription& description, const char* name);

struct FileDialog;
// The file dialog `name` of a window, as its description presets it.
std::unique_ptr<FileDialog> MakeFileDialog(const WindowDescription& description, const char* name);

// What a window's constructor takes from its description: it builds the
// window, then hands out the controls and file dialogs by name.
class BuiltWindow {
public:
    BuiltWindow(QWidget* window, const WindowDescription& description)
        : window_(window), description_(description) {
        BuildWindow(window, description);
    }

    // The control `name` of kind T; nullptr when the window has none.
    template <typename T> T* control(const char* name) const {
        return window_->findChild<T*>(QString::fromUtf8(name));
    }
    std::unique_ptr<FileDialog> dialog(const char* name) const;

private:
    QWidget* window_;
    const WindowDescription& description_;
};

} // namespace logdesk
