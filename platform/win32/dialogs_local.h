// The dialog engine over GTK 3: a modal dialog built from its template, and the controls in
// it. Each control kind lives in its own source; the dialog only knows the Control interface.
#pragma once

#include "platform/win32/dialog_template.h"
#include "platform/win32/window_local.h"

#include <gtk/gtk.h>

#include <memory>

namespace rh::win32 {

class Dialog;

// Dialog units to pixels for one dialog font, rounding as Windows' MulDiv does.
struct DialogUnits {
    int baseX = 8;  // average character width in pixels
    int baseY = 16;  // font height in pixels
    int X(int dialogUnits) const;
    int Y(int dialogUnits) const;
};

// A width and height in pixels.
struct PixelSize {
    int width = 0;
    int height = 0;
};

// Queues a message for a GTK-backed window on the GLib main loop that runs its dialog.
bool PostToGtkWindow(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// A child window of a dialog, shown by one GTK widget placed in the dialog's client area.
class Control : public HWND__ {
public:
    Control(Dialog* dialog, const DialogItemTemplate& item);
    ~Control() override;

    bool Post(UINT msg, WPARAM wParam, LPARAM lParam) override;
    // x, y relative to the dialog's client area; z-order among controls is not kept.
    bool Place(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override;
    RECT ScreenRect() const override;
    RECT ClientScreenRect() const override;

    Dialog* dialog() const { return dialog_; }
    GtkWidget* widget() const { return widget_; }
    // Position and size in the dialog's client area, pixels.
    const RECT& rect() const { return rect_; }

    // What the dialog manager needs to know for Enter and for radio groups.
    virtual bool IsPushButton() const { return false; }
    virtual bool IsDefaultPushButton() const { return false; }
    virtual bool IsRadioButton() const { return false; }
    // Whether Tab stops here and the control can take the focus (WM_INITDIALOG's wParam).
    bool CanTakeFocus() const;

    // The control whose widget is or contains this GTK widget, or null.
    static Control* FromWidget(GtkWidget* widget);

protected:
    // Makes w the control's widget, places it at rect() and applies the enabled state. Called
    // once by the derived constructor.
    void SetWidget(GtkWidget* w);
    // Moves or sizes the widget to rect().
    void ApplyRect();
    // WM_COMMAND from this control to its dialog.
    void NotifyParent(WORD code);
    void OnEnabledChanged() override;

    RECT rect_{};
    // Set while the layer itself updates the widget, so the signals it raises are not taken
    // for the user's actions.
    bool syncing_ = false;

private:
    Dialog* dialog_;
    GtkWidget* widget_ = nullptr;
};

// Control factories, one per kind; each returns null for a kind it does not build.
std::unique_ptr<Control> CreateButton(Dialog* dialog, const DialogItemTemplate& item);
std::unique_ptr<Control> CreateStatic(Dialog* dialog, const DialogItemTemplate& item);
std::unique_ptr<Control> CreateComboBox(Dialog* dialog, const DialogItemTemplate& item);
std::unique_ptr<Control> CreateTrackbar(Dialog* dialog, const DialogItemTemplate& item);

// An RT_BITMAP resource as a pixbuf (a new reference), or null when it is missing or cannot be
// decoded. The resource holds a device-independent bitmap, with or without the file header in
// front; the header is rebuilt when it is missing.
GdkPixbuf* LoadBitmapResource(HINSTANCE instance, uint16_t id);

// Text for a GTK label from a Windows control text: '&' marks the mnemonic ("&&" is one
// '&'), which GTK writes '_'. Without mnemonics, '&' stays as it is.
std::string GtkLabelText(const std::u16string& text, bool mnemonics);

// A modal dialog: the GTK top-level window and its GtkLayout client area.
class Dialog final : public HWND__ {
public:
    // Creates the GTK window; owner is a live top-level window or null.
    Dialog(const DialogTemplate& dialogTemplate, int templateId, HWND__* owner, DLGPROC proc,
           HINSTANCE instance);
    ~Dialog() override;

    // Measures the font, creates the controls and places the window. False when a control
    // is of a class the layer does not build (as Windows fails for an unknown class).
    bool Build(const DialogTemplate& dialogTemplate);

    // Sizes the client area again after a control moved, grew or was shown: it always holds
    // every shown control (see ClientSizeNeeded).
    void FitControls();

    // Sends WM_INITDIALOG, shows the dialog and runs its modal loop until End; returns the
    // value given to End.
    INT_PTR Run(LPARAM initParam);
    // Ends the modal loop with result; false when it has already ended.
    bool End(INT_PTR result);

    // The dialog procedure first, then the dialog manager's defaults.
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool Post(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool Place(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override;
    RECT ScreenRect() const override;
    RECT ClientScreenRect() const override;

    const DialogUnits& units() const { return units_; }
    HINSTANCE instance() const { return instance_; }
    GtkWindow* window() const { return GTK_WINDOW(window_); }
    // Controls are put here at client coordinates.
    GtkLayout* layout() const { return GTK_LAYOUT(layout_); }

    // WM_COMMAND as the dialog manager sends it for a key, the close box or a button.
    void SendCommand(int id, WORD code);
    // Simulated key press delivered through the display server (Enter, Esc, ...).
    bool SimulateKey(guint keyval);

protected:
    void OnTextChanged() override;

private:
    void MeasureFont(const DialogTemplate& dialogTemplate);
    void PlaceInitially(const DialogTemplate& dialogTemplate);
    void Restack(HWND insertAfter);
    // The client size the dialog gets: what the template or the program asked for, grown to
    // reach past every shown control by the template's own margin.
    PixelSize ClientSizeNeeded() const;
    // Sizes the window to ClientSizeNeeded, the frame around it.
    void ApplySize();
    void UpdateFrameFromGdk(bool fromConfigure);
    void FocusFirstControl();
    bool OnKey(GdkEventKey* event);
    void OnEnter();
    void OnEscape();

    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnMap(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnConfigure(GtkWidget*, GdkEventConfigure*, gpointer self);
    static gboolean OnShownIdle(gpointer self);

    int templateId_;
    HWND__* owner_;
    DLGPROC proc_;
    HINSTANCE instance_;
    DialogUnits units_;
    GtkWidget* window_ = nullptr;
    GtkWidget* layout_ = nullptr;
    std::vector<std::unique_ptr<Control>> controls_;

    // The whole window in screen pixels as last placed, and the frame around the client area
    // (zero until the display server tells, or without decorations).
    RECT rect_{};
    RECT frame_{};
    // A placement the layer asked for and the display server has not yet confirmed; until
    // then configure events of earlier states do not overwrite rect_.
    bool placementPending_ = false;
    // The smallest client size: the template's, then what SetWindowPos or the user asked for.
    // A size given to SetWindowPos is taken for the client area: the frame a window manager
    // adds is not the program's to know, and controls placed in dialog units of the real font
    // need the room their template gave them.
    PixelSize minClient_{1, 1};
    // Room kept right of and below the controls: the template's own, up to the usual margin.
    PixelSize margin_{0, 0};

    bool ended_ = false;
    INT_PTR result_ = 0;
    guint shownIdle_ = 0;
    bool shownReported_ = false;
};

// The dialog whose window or control this is, or null.
Dialog* DialogOf(HWND hwnd);

// Opens GTK on the first call; false without a display (said once on stderr).
bool GtkReady();

// Tells the test hook, if one is installed, that a dialog is shown and its loop runs.
void ReportDialogShown(HWND dialog, int templateId);

}  // namespace rh::win32
