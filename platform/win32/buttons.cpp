// Buttons: push buttons, check boxes, radio buttons and group boxes. The check state lives
// here; the GTK widget only shows it, so Windows' rules (auto or manual buttons, a radio
// group that may have nothing checked) hold whatever GTK would do on its own.

#include "platform/win32/dialogs_local.h"

namespace rh::win32 {
namespace {

class Button final : public Control {
public:
    Button(Dialog* dialog, const DialogItemTemplate& item)
        : Control(dialog, item), kind_(item.style & BS_TYPEMASK) {
        label_ = gtk_label_new(nullptr);
        if (item.style & BS_MULTILINE) {
            gtk_label_set_line_wrap(GTK_LABEL(label_), TRUE);
            gtk_label_set_line_wrap_mode(GTK_LABEL(label_), PANGO_WRAP_WORD_CHAR);
            // A wrapping label otherwise asks for a width of its own guessing; Windows wraps at
            // the control's width, which the size request gives it.
            gtk_label_set_width_chars(GTK_LABEL(label_), 1);
            gtk_label_set_max_width_chars(GTK_LABEL(label_), 1);
        } else {
            gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
        }
        GtkWidget* w;
        if (IsRadioButton()) {
            w = gtk_radio_button_new(nullptr);
            // GTK keeps one radio of a group active; a hidden partner holds "unchecked", so
            // that the button can show Windows' state, where a group may have none checked.
            partner_ = gtk_radio_button_new_from_widget(GTK_RADIO_BUTTON(w));
            g_object_ref_sink(partner_);
        } else if (IsCheckBox()) {
            w = gtk_check_button_new();
        } else if (kind_ == BS_GROUPBOX) {
            w = gtk_frame_new(nullptr);
            gtk_frame_set_label_widget(GTK_FRAME(w), label_);
        } else {
            w = gtk_button_new();
            gtk_label_set_xalign(GTK_LABEL(label_), 0.5f);
        }
        if (kind_ != BS_GROUPBOX) {
            gtk_container_add(GTK_CONTAINER(w), label_);
            gtk_label_set_mnemonic_widget(GTK_LABEL(label_), w);
            g_signal_connect(w, "clicked", G_CALLBACK(OnClicked), this);
        }
        OnTextChanged();
        SetWidget(w);
        SyncWidget();
    }

    ~Button() override {
        if (partner_ != nullptr) {
            // Leaving the group must not come back as a click.
            if (widget() != nullptr) g_signal_handlers_disconnect_by_data(widget(), this);
            gtk_widget_destroy(partner_);
            g_object_unref(partner_);
        }
    }

    bool IsPushButton() const override {
        return kind_ == BS_PUSHBUTTON || kind_ == BS_DEFPUSHBUTTON;
    }
    bool IsDefaultPushButton() const override { return kind_ == BS_DEFPUSHBUTTON; }
    bool IsRadioButton() const override {
        return kind_ == BS_RADIOBUTTON || kind_ == BS_AUTORADIOBUTTON;
    }

    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
        switch (msg) {
            case BM_GETCHECK:
                return state_;
            case BM_SETCHECK:
                if (IsCheckBox() || IsRadioButton()) {
                    bool threeState = kind_ == BS_3STATE || kind_ == BS_AUTO3STATE;
                    state_ = wParam == BST_INDETERMINATE && threeState ? BST_INDETERMINATE
                             : wParam != BST_UNCHECKED                 ? BST_CHECKED
                                                                       : BST_UNCHECKED;
                    SyncWidget();
                }
                return 0;
            case BM_CLICK:
                // Through GTK's own click, so a test's click takes the user's path.
                if (enabled() && widget() != nullptr && kind_ != BS_GROUPBOX) {
                    gtk_button_clicked(GTK_BUTTON(widget()));
                }
                return 0;
            default:
                return Control::Handle(msg, wParam, lParam);
        }
    }

protected:
    void OnTextChanged() override {
        gtk_label_set_text_with_mnemonic(GTK_LABEL(label_), GtkLabelText(text_, true).c_str());
    }

private:
    bool IsCheckBox() const {
        return kind_ == BS_CHECKBOX || kind_ == BS_AUTOCHECKBOX || kind_ == BS_3STATE ||
               kind_ == BS_AUTO3STATE;
    }

    // The user clicked (or BM_CLICK): auto buttons change state, then the dialog hears of it.
    void UserClick() {
        if (!enabled()) {
            SyncWidget();
            return;
        }
        switch (kind_) {
            case BS_AUTOCHECKBOX:
                state_ = state_ == BST_UNCHECKED ? BST_CHECKED : BST_UNCHECKED;
                break;
            case BS_AUTO3STATE:
                state_ = state_ == BST_UNCHECKED ? BST_CHECKED
                         : state_ == BST_CHECKED ? BST_INDETERMINATE
                                                 : BST_UNCHECKED;
                break;
            case BS_AUTORADIOBUTTON:
                state_ = BST_CHECKED;
                UncheckGroup();
                break;
            default:
                break;
        }
        SyncWidget();  // undoes GTK's own toggling for the manual kinds
        NotifyParent(BN_CLICKED);
    }

    // The other radio buttons of this button's group: the run of sibling controls from the
    // nearest one at or before it with WS_GROUP up to the next one with WS_GROUP.
    void UncheckGroup() {
        const std::vector<HWND__*> siblings = dialog()->children();
        size_t self = 0;
        while (self < siblings.size() && siblings[self] != this) ++self;
        if (self == siblings.size()) return;
        size_t first = self;
        while (first > 0 && (siblings[first]->style() & WS_GROUP) == 0) --first;
        for (size_t i = first; i < siblings.size(); ++i) {
            if (i > first && (siblings[i]->style() & WS_GROUP) != 0) break;
            auto* other = dynamic_cast<Control*>(LiveWindow(siblings[i]));
            if (other != nullptr && other != this && other->IsRadioButton()) {
                other->Handle(BM_SETCHECK, BST_UNCHECKED, 0);
            }
        }
    }

    void SyncWidget() {
        GtkWidget* w = widget();
        if (w == nullptr) return;
        syncing_ = true;
        if (IsRadioButton()) {
            GtkWidget* active = state_ == BST_CHECKED ? w : partner_;
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(active), TRUE);
        } else if (IsCheckBox()) {
            gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(w), state_ == BST_INDETERMINATE);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), state_ != BST_UNCHECKED);
        }
        syncing_ = false;
    }

    static void OnClicked(GtkButton*, gpointer self) {
        auto* button = static_cast<Button*>(self);
        if (!button->syncing_) button->UserClick();
    }

    DWORD kind_;
    UINT state_ = BST_UNCHECKED;
    GtkWidget* label_ = nullptr;
    GtkWidget* partner_ = nullptr;
};

}  // namespace

std::unique_ptr<Control> CreateButton(Dialog* dialog, const DialogItemTemplate& item) {
    return std::make_unique<Button>(dialog, item);
}

}  // namespace rh::win32
