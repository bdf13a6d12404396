// Starting other programs.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kavro::sys {

// Starts a program and waits, without a time limit, until it ends. Answers its exit status, 128 + the signal
// number when a signal ended it, or -1 when it could not be started (the caller then simply goes on).
int run_and_wait(const std::filesystem::path& program, const std::vector<std::string>& args = {});

// Starts a program without waiting for it (it is reaped in the background). False when it could not start.
bool start_process(const std::filesystem::path& program, const std::vector<std::string>& args = {});

// Opens a document with the desktop's program for it ("open" verb): xdg-open, without waiting.
bool open_document(const std::filesystem::path& document);

} // namespace kavro::sys
