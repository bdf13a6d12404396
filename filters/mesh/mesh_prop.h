// CMeshProp: the "Mesh" filter's property page. It shows the topology service's IPv4 address and TCP port as
// the filter holds them, and writes them back through IMesh when the page's own "Apply" button is pressed;
// "Default" fills in 127.0.0.1 and 2004 without touching the filter. The property frame's OK and Apply do not
// change the filter (OnApplyChanges does nothing).
#pragma once

#include "filters/mesh/imesh.h"
#include "platform/dshow/base/property_page.h"

#include <cstdint>

namespace mesh {
// Resource identifiers of the page.
inline constexpr int IDD_MESHPROP = 101;     // the page's dialog
inline constexpr int IDS_MESHPROP_TITLE = 100; // its title, "JPEG_Receiver"
inline constexpr int IDC_DEFAULT = 1000;
inline constexpr int IDC_APPLY = 1001;
inline constexpr int IDC_ADDRESS = 1005;     // IP address control
inline constexpr int IDC_PORT = 1006;        // number edit
} // namespace mesh

class CMeshProp : public CBasePropertyPage {
public:
    // The factory template's creation function ("MeshProp"): E_OUTOFMEMORY through phr when it fails.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

private:
    explicit CMeshProp(IUnknown* outer);

    HRESULT OnConnect(IUnknown* object) override;   // asks for IMesh: objects without it are refused
    HRESULT OnDisconnect() override;                // lets go of IMesh
    HRESULT OnActivate() override;                  // shows the filter's address and port
    kavro::ui::LRESULT OnReceiveMessage(kavro::ui::Hwnd, unsigned, kavro::ui::WPARAM, kavro::ui::LPARAM) override;

    void ShowWorkingCopy();

    IMesh* m_pMesh = nullptr;
    BYTE m_address[4] = {127, 0, 0, 1}; // working copy of the service address
    std::int32_t m_port = mesh::kDefaultPort;
};
