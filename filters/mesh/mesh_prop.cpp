#include "filters/mesh/mesh_prop.h"

#include <algorithm>
#include <new>
#include <utility>

using namespace kavro::ui;

// The plug-in's resources: the page's dialog and its title.
const CModuleResources& ModuleResources() {
    static const CModuleResources resources = [] {
        CModuleResources r;
        DialogTemplate d;
        d.id = mesh::IDD_MESHPROP;
        d.caption = "";
        d.font = "MS Shell Dlg";
        d.font_size = 8;
        d.rect = Rect{0, 0, 224, 177};
        d.style = WS_CHILD | DS_SETFONT | DS_CONTROL;
        d.controls = {
            {mesh::IDC_DEFAULT, WindowClass::Button, "Default", Rect{31, 155, 50, 14},
             WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
            {mesh::IDC_APPLY, WindowClass::Button, "Apply", Rect{130, 155, 50, 14},
             WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
            {-1, WindowClass::Static, "IP Adress", Rect{42, 60, 32, 8}, WS_VISIBLE | WS_GROUP | SS_LEFT},
            {-1, WindowClass::Static, "Port", Rect{58, 84, 14, 8}, WS_VISIBLE | WS_GROUP | SS_LEFT},
            {mesh::IDC_ADDRESS, WindowClass::IpAddress, "", Rect{83, 57, 96, 14}, WS_VISIBLE | WS_TABSTOP},
            {mesh::IDC_PORT, WindowClass::Edit, "", Rect{83, 81, 35, 15},
             WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_NUMBER | ES_CENTER | ES_AUTOHSCROLL},
        };
        r.dialogs.push_back(std::move(d));
        r.strings[mesh::IDS_MESHPROP_TITLE] = "JPEG_Receiver";
        return r;
    }();
    return resources;
}

CUnknown* CMeshProp::CreateInstance(IUnknown* outer, HRESULT* phr) {
    auto* page = new (std::nothrow) CMeshProp(outer);
    if (!page && phr) *phr = E_OUTOFMEMORY;
    return page;
}

CMeshProp::CMeshProp(IUnknown* outer)
    : CBasePropertyPage(nullptr, outer, mesh::IDD_MESHPROP, mesh::IDS_MESHPROP_TITLE) {}

HRESULT CMeshProp::OnConnect(IUnknown* object) {
    if (!object) return E_POINTER;
    if (m_pMesh) std::exchange(m_pMesh, nullptr)->Release();
    return object->QueryInterface(IID_IMesh, reinterpret_cast<void**>(&m_pMesh));
}

HRESULT CMeshProp::OnDisconnect() {
    if (m_pMesh) std::exchange(m_pMesh, nullptr)->Release();
    return S_OK;
}

void CMeshProp::ShowWorkingCopy() {
    set_dlg_item_int(m_Dlg, mesh::IDC_PORT, static_cast<unsigned>(m_port), false);
    ip_set_address(get_dlg_item(m_Dlg, mesh::IDC_ADDRESS),
                   make_ip_address(m_address[0], m_address[1], m_address[2], m_address[3]));
}

HRESULT CMeshProp::OnActivate() {
    if (!m_pMesh) return E_UNEXPECTED;
    const HRESULT hr = m_pMesh->GetServer(&m_address[0], &m_address[1], &m_address[2], &m_address[3], &m_port);
    if (FAILED(hr)) return hr;
    ShowWorkingCopy();
    return S_OK;
}

LRESULT CMeshProp::OnReceiveMessage(Hwnd hwnd, unsigned msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND && loword(wp) == mesh::IDC_DEFAULT) {
        std::copy(std::begin(mesh::kDefaultAddress), std::end(mesh::kDefaultAddress), m_address);
        m_port = mesh::kDefaultPort;
        ShowWorkingCopy();
        SetDirty();
        return 1;
    }
    if (msg == WM_COMMAND && loword(wp) == mesh::IDC_APPLY && m_pMesh) {
        m_port = static_cast<std::int32_t>(get_dlg_item_int(m_Dlg, mesh::IDC_PORT, nullptr, false));
        std::uint32_t address = 0;
        ip_get_address(get_dlg_item(m_Dlg, mesh::IDC_ADDRESS), address);
        m_address[0] = BYTE(first_ip_address(address));
        m_address[1] = BYTE(second_ip_address(address));
        m_address[2] = BYTE(third_ip_address(address));
        m_address[3] = BYTE(fourth_ip_address(address));
        m_pMesh->SetServer(m_address[0], m_address[1], m_address[2], m_address[3], m_port);
    }
    return CBasePropertyPage::OnReceiveMessage(hwnd, msg, wp, lp);
}
