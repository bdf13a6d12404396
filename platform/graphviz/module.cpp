// WinGraphviz.dll: the COM server of the layout component.
#include "platform/dshow/base/factory.h"
#include "platform/graphviz/component.h"

KAVRO_DSHOW_PLUGIN({"WinGraphviz", &CLSID_WinGraphviz, CGraphLayout::CreateInstance, nullptr, nullptr})
