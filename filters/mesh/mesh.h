// Mesh: a live source of 768 x 576 RGB24 frames, four a second, showing the wireless mesh's topology as
// the topology thread last drew it, or the default picture (Images/mesh.ppm under the installation folder)
// while no drawing is ready. Steered through IMesh; its settings page is "MeshProp".
#pragma once

#include "filters/mesh/image_ppm.h"
#include "filters/mesh/imesh.h"
#include "filters/mesh/topology_thread.h"
#include "platform/com/property_pages.h"
#include "platform/dshow/base/factory.h"
#include "platform/dshow/base/source.h"

namespace mesh {

inline constexpr LONG kDefaultFrameMs = 250;

struct MeshOptions {
    std::string registry_key = "SOFTWARE\\KAVRO"; // value "Installation": the installation folder
    CLSID layout = CLSID_WinGraphviz;
    ThreadTiming timing;
    bool print_topology = true; // each topology text to standard output
};

} // namespace mesh

class CMesh;

class CMeshStream : public CSourceStream {
public:
    // Creates the layout component and the buffers; the filter's picture path must be known.
    CMeshStream(HRESULT* phr, CMesh* filter, const char* pinName);
    ~CMeshStream() override; // ends the topology thread before anything it uses is released

    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadStartPlay() override;
    HRESULT OnThreadDestroy() override;
    HRESULT Notify(IBaseFilter* self, Quality q) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

    // The default picture, fitted into a frame once (a picture of another size is centred or reduced).
    void SetDefaultPicture(const image_pnm& picture);

    // For tests.
    LONG FrameInterval();
    REFERENCE_TIME NextSampleTime();
    mesh::TopologyThread& Topology() { return m_topology; }
    mesh::SharedFrame& Frame() { return m_frame; }

private:
    CCritSec m_sharedLock; // guards m_interval and m_next
    LONG m_interval = mesh::kDefaultFrameMs;
    REFERENCE_TIME m_next = 0;

    std::unique_ptr<std::uint8_t[]> m_defaultFrame; // kFrameBytes, written before streaming starts
    mesh::SharedFrame m_frame;
    mesh::TopologyDrawer m_drawer;
    mesh::TopologyThread m_topology;
};

class CMesh : public IMesh, public ISpecifyPropertyPages, public CSource {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr, const mesh::MeshOptions& options);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    // IMesh
    HRESULT SetServer(BYTE a, BYTE b, BYTE c, BYTE d, std::int32_t port) override;
    HRESULT GetServer(BYTE* a, BYTE* b, BYTE* c, BYTE* d, std::int32_t* port) override;
    HRESULT SetNodeName(const char* address, const char* name) override;
    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pages) override;

    const mesh::MeshOptions& Options() const { return m_options; }
    mesh::ServerSettings& Settings() { return m_settings; }
    const std::string& InstallationFolder() const { return m_folder; }
    const std::string& PicturePath() const { return m_picturePath; }
    CMeshStream* Stream() { return m_stream; }

private:
    CMesh(IUnknown* outer, HRESULT* phr, const mesh::MeshOptions& options);
    void ReadInstallationFolder();

    const mesh::MeshOptions m_options;
    mesh::ServerSettings m_settings;
    std::string m_folder;      // ends with a path separator when set
    std::string m_picturePath; // folder + "Images/tmp.jpg"
    CMeshStream* m_stream = nullptr;
};
