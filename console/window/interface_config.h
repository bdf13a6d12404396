// The operator's network settings kept between runs in "./configs/interface.xml".
//
// The document is addressed by position only (section i below the root, value j below the section); element
// names are free. The controls of the operator window are the working copy; saving only replaces texts in
// the tree that was loaded, so a file's structure and names survive.
#pragma once

#include "minxl/minxl.h"

#include <string>

namespace kavro::console {

class Controls;
class Pages;

inline constexpr const char* kInterfaceFile = "interface.xml";
inline constexpr const char* kInterfaceOldFile = "interface_old.xml";
inline constexpr const char* kInterfaceBadSuffix = ".bad";

struct InterfaceConfig {
    MinXL::t_xml_node doc{"interface", ""};
    bool load_save = true;                   // a file was loaded, so the exit saves
    std::string configs_dir = "./configs/";  // with its trailing slash
};

// Whether a loaded tree has every position the console reads and writes.
bool has_interface_shape(const MinXL::t_xml_node& root);

// Text of a value element as a number: decimal after optional leading white space, 0 when not a number.
int interface_number(const std::string& text);

// Loads interface.xml (or its fallback interface_old.xml), retires the file that was read and fills every
// control from it, or applies the defaults and disables saving when neither is usable. Calls
// pages.refresh_config_list() between the mixer fields and the cameras.
void load_interface_config(InterfaceConfig& config, Controls& controls, Pages& pages);

// Writes interface.xml from the controls when a file was loaded at start; otherwise does nothing.
// Returns whether a file was written.
bool save_interface_config(InterfaceConfig& config, const Controls& controls);

} // namespace kavro::console
