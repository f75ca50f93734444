#include "linkview.h"

#include <array>

namespace airmesh {
inline namespace ui {

namespace {

// clang-format off
// In the order of LinkState.
constexpr std::array<LinkView, 8> kViews{{
    //          lamp             connect alias  cancel caption      status repaint
    /* Idle */ {LinkView::Red,    true,  false, true,  "Connec&t", true,  false},
    /* Conn */ {LinkView::Yellow, false, false, false, nullptr,    false, false},
    /* Wait */ {LinkView::Yellow, false, false, false, nullptr,    true,  false},
    /* On   */ {LinkView::Green,  false, true,  true,  nullptr,    true,  true},
    /* Rej  */ {LinkView::Red,    true,  false, true,  nullptr,    true,  false},
    /* Time */ {LinkView::Red,    true,  false, true,  nullptr,    true,  false},
    /* Err  */ {LinkView::Red,    true,  false, true,  nullptr,    true,  false},
    /* Lost */ {LinkView::Red,    true,  false, true,  "Connect",  true,  false},
}};
// clang-format on

static_assert(static_cast<size_t>(LinkState::Lost) + 1 == kViews.size(), "one row per link state");

} // namespace

const LinkView& LinkView::of(LinkState state) {
    const auto i = static_cast<size_t>(state);
    return i < kViews.size() ? kViews[i] : kViews[0];
}

} // namespace ui
} // namespace airmesh
