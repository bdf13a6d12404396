// WinGraphviz.dll: the COM server of the layout component. Only its Dll* entry points are visible.
#include "platform/dshow/base/factory.h"
#include "platform/graphviz/component.h"

CFactoryTemplate g_Templates[] = {
    {"WinGraphviz", &CLSID_WinGraphviz, CGraphLayout::CreateInstance, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

KAVRO_DSHOW_PLUGIN_EXPORTS()
