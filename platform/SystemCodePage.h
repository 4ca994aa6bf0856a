#pragma once

class QTextCodec;

namespace platform {

/// The codec of the system's 8-bit code page, for decoding text that the user says is written in it: the
/// locale's codec here; on Windows the named codec of the ANSI code page (GB18030 for 936, Big5 for 950,
/// and so on), which turns a byte the code page cannot read into U+FFFD instead of dropping it, as the
/// system's own conversion does. Never null.
QTextCodec* systemCodePageCodec();

} // namespace platform
