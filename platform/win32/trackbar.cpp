// Trackbars ("msctls_trackbar32") over GtkScale: range and position live here, the scale
// shows them and reports the user's moves.

#include "platform/win32/dialogs_local.h"

#include <algorithm>
#include <cmath>

namespace rh::win32 {
namespace {

class Trackbar final : public Control {
public:
    Trackbar(Dialog* dialog, const DialogItemTemplate& item)
        : Control(dialog, item), vertical_((item.style & TBS_VERT) != 0) {
        adjustment_ = gtk_adjustment_new(0, 0, 100, 1, 20, 0);
        GtkWidget* w = gtk_scale_new(vertical_ ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL,
                                     adjustment_);
        gtk_scale_set_draw_value(GTK_SCALE(w), FALSE);
        gtk_scale_set_digits(GTK_SCALE(w), 0);
        gtk_range_set_round_digits(GTK_RANGE(w), 0);
        g_signal_connect(w, "value-changed", G_CALLBACK(OnValueChanged), this);
        SetWidget(w);
        Sync();
    }

    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
        switch (msg) {
            case TBM_GETPOS: return position_;
            case TBM_GETRANGEMIN: return min_;
            case TBM_GETRANGEMAX: return max_;
            case TBM_SETPOS:
                position_ = static_cast<LONG>(lParam);
                Sync();
                return 0;
            case TBM_SETRANGE:
                min_ = LOWORD(lParam);
                max_ = HIWORD(lParam);
                Sync();
                return 0;
            case TBM_SETRANGEMIN:
                min_ = static_cast<LONG>(lParam);
                Sync();
                return 0;
            case TBM_SETRANGEMAX:
                max_ = static_cast<LONG>(lParam);
                Sync();
                return 0;
            default:
                return Control::Handle(msg, wParam, lParam);
        }
    }

private:
    // Keeps the position inside the range, as the trackbar does after every change, and shows
    // both on the scale.
    void Sync() {
        position_ = std::clamp(position_, min_, std::max(min_, max_));
        LONG upper = std::max(min_, max_);
        double page = std::max<LONG>(1, (upper - min_) / 5);
        syncing_ = true;
        gtk_adjustment_configure(adjustment_, position_, min_, upper, 1, page, 0);
        syncing_ = false;
    }

    static void OnValueChanged(GtkRange* range, gpointer self) {
        auto* bar = static_cast<Trackbar*>(self);
        if (bar->syncing_) return;
        bar->position_ = static_cast<LONG>(std::lround(gtk_range_get_value(range)));
        bar->NotifyMove();
    }

    void NotifyMove() {
        HWND__* parent = LiveWindow(this->parent());
        if (parent == nullptr) return;
        HWND self = this;
        parent->Handle(vertical_ ? WM_VSCROLL : WM_HSCROLL,
                       MAKEWPARAM(TB_THUMBTRACK, static_cast<WORD>(position_)),
                       reinterpret_cast<LPARAM>(self));
        if (LiveWindow(self) == nullptr) return;
        NMHDR header{self, static_cast<UINT_PTR>(id()), NM_RELEASEDCAPTURE};
        parent->Handle(WM_NOTIFY, static_cast<WPARAM>(id()), reinterpret_cast<LPARAM>(&header));
    }

    bool vertical_;
    GtkAdjustment* adjustment_;
    LONG min_ = 0;
    LONG max_ = 100;
    LONG position_ = 0;
};

}  // namespace

std::unique_ptr<Control> CreateTrackbar(Dialog* dialog, const DialogItemTemplate& item) {
    return std::make_unique<Trackbar>(dialog, item);
}

}  // namespace rh::win32
