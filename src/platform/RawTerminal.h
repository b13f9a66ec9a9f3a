#pragma once

namespace cardmill {

/// Switches a terminal (such as either side of a pty) fully raw, so that MIDI bytes pass
/// untouched: no echo, no CR / LF mapping, no XON / XOFF (0x11 and 0x13 are data: 0x11 is the
/// erase opcode), no signals; a read returns as soon as one byte is there. False, with errno
/// set, when the mode can't be read or set; the terminal is then left as it was.
bool MakeTerminalRaw(int fd);

} // namespace cardmill
