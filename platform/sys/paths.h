// Files and folders: where the system's absolute Windows paths live on this machine, and the Win32 rules for
// copying and moving files.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace kavro::sys {

// The folder that stands for drive C: $KAVRO_DRIVE_C, else $XDG_DATA_HOME/kavro/drive_c, else
// ~/.local/share/kavro/drive_c. Not created here.
std::filesystem::path drive_c_root();

// Maps a path as the system writes it to a path on this machine:
// - "C:/Program Files/KAVRO/Map/", "c:\windows\system32\x.dll", "C:\\MyGraph.grf" lie under drive_c_root()
//   (another drive letter X lies in the folder "drive_x" beside it);
// - relative paths ("./configs/kavro.xml", ".\bin\NAT\nat.exe") stay relative to the working folder.
// Backslashes become slashes and repeated separators collapse. ".." never leads above the drive's root.
// Names are matched without regard to case where the exact name does not exist but one differing only in
// case does, as the system's file names were written on a file system that ignores case.
std::filesystem::path local_path(std::string_view system_path);

bool path_exists(const std::filesystem::path& p);

// CopyFile: fails when the source is missing, when the destination exists and fail_if_exists is set, or when
// the destination is a folder or read-only; otherwise the destination is replaced (through a temporary file
// beside it, so a failed copy leaves the old destination intact).
bool copy_file(const std::filesystem::path& from, const std::filesystem::path& to, bool fail_if_exists,
               std::error_code& ec);

inline constexpr unsigned MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr unsigned MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr unsigned MOVEFILE_WRITE_THROUGH = 0x8;

// MoveFileEx: fails when the source is missing, or when the destination exists and REPLACE_EXISTING is not
// given, or the destination is a folder or read-only. Across file systems only with COPY_ALLOWED (copy, then
// remove the source). WRITE_THROUGH flushes before answering.
bool move_file(const std::filesystem::path& from, const std::filesystem::path& to, unsigned flags,
               std::error_code& ec);

} // namespace kavro::sys
