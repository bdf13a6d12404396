// The DirectX error trace: a failure reported with the reporting program's name, a fixed location number per
// call site and the result code's text, in a message box (and on standard error).
#pragma once

#include <string>
#include <string_view>

#include "platform/com/com.h"

namespace kavro::ui {

// The symbolic name of a result code ("E_FAIL", "VFW_E_NOT_FOUND"...), or "Unknown" for codes it does not know.
std::string result_text(HRESULT hr);
// Teaches result_text another code (layers with their own codes register them once).
void register_result_text(HRESULT hr, std::string name);

// The text of the trace:
//   "File: <source>\nLine: <location>\nError Code: <name> (0x<hex>)\nCalling: <call>"
// (the last line only when a call is named).
std::string error_trace_text(std::string_view source, unsigned location, HRESULT hr, std::string_view call = {});

// Writes the trace to standard error and, when show_box is set, shows it in a message box with the caption
// "Unexpected error encountered" and the error icon. Answers hr, so a caller can `return error_trace(...)`.
HRESULT error_trace(std::string_view source, unsigned location, HRESULT hr, std::string_view call = {},
                    bool show_box = true);

} // namespace kavro::ui
