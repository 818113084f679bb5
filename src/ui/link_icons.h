#pragma once

// The six row icons of the list views, drawn by the program itself (16x16): 0 address, 1 link
// not yet fetched, 2 visited link, 3 bad link, 4 timed-out link, 5 moved link. The index is
// harvest::link_icon's.

#include <QIcon>

namespace tarnvelox::ui {

inline constexpr int kRowIcons = 6;

// The icon for image index `index` (0..5); an empty icon for any other index. Needs a
// QGuiApplication.
[[nodiscard]] const QIcon& row_icon(int index);

// The program's own icon (an envelope on a blue tile with a green tick), for the window.
[[nodiscard]] QIcon program_icon();

}  // namespace tarnvelox::ui
