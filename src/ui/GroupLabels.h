#pragma once

#include <QIcon>
#include <QString>

namespace cardmill {

class MProject;

/// A group as the lists and choosers show it: a keyboard or drum group by its token and name
/// ("K1  Piano", "D2  empty"), since many groups keep the name they started with, and Sequences
/// and Programs by their names.
QString GroupLabel(const MProject& project, int group);

/// A small picture of the group's kind, drawn (no image files): keys for a keyboard group, a
/// drum for a drum group, a note for Sequences and a stack of patches for Programs.
QIcon GroupIcon(int group);

} // namespace cardmill
