// The application-wide pointer shape: one shape at a time over every window
// of the program, or the default shapes of the controls.
#pragma once

#include <QCursor>
#include <optional>

namespace lumivore {

// Replaces the application-wide shape; no shape gives every control its own
// again. Setting never stacks, so one reset always ends what any number of
// sets began.
void SetAppCursor(const std::optional<QCursor>& shape);

}  // namespace lumivore
