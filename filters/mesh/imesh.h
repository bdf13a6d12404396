// The "Mesh" filter's identities and its private interface IMesh, through which the console (and the
// property page) set the topology service's address and port and the names shown for the mesh nodes.
#pragma once

#include "platform/com/com.h"
#include "platform/graphviz/graph_layout.h"

#include <cstdint>

// The filter "Mesh" in Mesh.ax.
inline constexpr CLSID CLSID_Mesh = make_guid("884A06A2-0C66-4A8D-9718-2CB48B5CC929");
// Its property page "MeshProp", a class of the same library.
inline constexpr CLSID CLSID_MeshProp = make_guid("ECDEC30B-2659-4630-9103-116D9796834B");
inline constexpr IID IID_IMesh = make_guid("6F2E13AC-9993-48C9-89DA-7FAECABD341D");

// The layout component that draws the topology, CLSID_WinGraphviz, is declared with the component.

namespace mesh {
// Where the filter looks for its topology service until SetServer says otherwise.
inline constexpr BYTE kDefaultAddress[4] = {127, 0, 0, 1};
inline constexpr std::int32_t kDefaultPort = 2004;
} // namespace mesh

// Methods in table order (places 0 to 2 are IUnknown's, delegated to the filter).
struct IMesh : IUnknown {
    // Stores the service address a.b.c.d and the port (the low 16 bits are used when connecting).
    // Takes effect at the topology thread's next connection attempt. Always S_OK.
    virtual HRESULT SetServer(BYTE a, BYTE b, BYTE c, BYTE d, std::int32_t port) = 0; // place 3
    // Writes the current address bytes and port. Any null pointer: E_POINTER, nothing written.
    virtual HRESULT GetServer(BYTE* a, BYTE* b, BYTE* c, BYTE* d, std::int32_t* port) = 0; // place 4
    // Names a node: every occurrence of the address text in the topology is shown as the name.
    // Walks the list from the front: the first entry with this name takes the new address, the first
    // entry with this address takes the new name; with no match the pair is appended. Both texts are
    // copied; a null text counts as empty. Always S_OK.
    virtual HRESULT SetNodeName(const char* address, const char* name) = 0; // place 5

protected:
    ~IMesh() = default;
};
