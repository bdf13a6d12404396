#include "filters/mesh/mesh.h"

#include "filters/mesh/mesh_prop.h"
#include "platform/com/runtime.h"
#include "platform/dshow/base/video_type.h"
#include "platform/registry/registry.h"
#include "platform/ui/message_box.h"

#include <cstdio>
#include <cstring>
#include <new>

using namespace kavro::dshow::setup;

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};
const AMOVIESETUP_PIN kPins[] = {output_pin("Output", kPinTypes)};
const AMOVIESETUP_FILTER kFilter = filter(CLSID_Mesh, "Mesh", kPins);

constexpr const char* kNotInstalled = "KAVRO n'est pas correctement installé";
constexpr std::size_t kFolderRoom = 80; // bytes, terminator included

ComPtr<IGraphLayout> create_layout(REFCLSID clsid) {
    ComPtr<IGraphLayout> layout;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IGraphLayout, layout.put_void())))
        std::fprintf(stderr, "Mesh: no layout component (WinGraphviz): the topology cannot be drawn\n");
    return layout;
}

} // namespace

// The filter and its property page.
KAVRO_DSHOW_PLUGIN(filter_template(kFilter, CMesh::CreateInstance),
                   {"MeshProp", &CLSID_MeshProp, CMeshProp::CreateInstance, nullptr, nullptr})

// ---------------------------------------------------------------------------------------------------------
// CMesh

CUnknown* CMesh::CreateInstance(IUnknown* outer, HRESULT* phr) { return CreateInstance(outer, phr, {}); }

CUnknown* CMesh::CreateInstance(IUnknown* outer, HRESULT* phr, const mesh::MeshOptions& options) {
    CUnknown* filter = new (std::nothrow) CMesh(outer, phr, options);
    if (!filter && phr) *phr = E_OUTOFMEMORY;
    return filter;
}

CMesh::CMesh(IUnknown* outer, HRESULT* phr, const mesh::MeshOptions& options)
    : CSource(nullptr, outer, CLSID_Mesh), m_options(options) {
    CAutoLock lock(&m_cStateLock);
    try {
        m_paStreams.reserve(1);
    } catch (const std::bad_alloc&) {
        if (phr) *phr = E_OUTOFMEMORY;
        return;
    }
    // The folder comes first: the pin needs the drawing's path.
    ReadInstallationFolder();
    m_picturePath = m_folder + "Images/tmp.jpg";
    m_stream = new (std::nothrow) CMeshStream(phr, this, "Output"); // adds itself to the filter
    if (!m_stream) {
        if (phr) *phr = E_OUTOFMEMORY;
        return;
    }
    image_ppm picture;
    picture.read(m_folder + "Images/mesh.ppm");
    m_stream->SetDefaultPicture(picture);
}

void CMesh::ReadInstallationFolder() {
    namespace reg = kavro::registry;
    if (!reg::key_exists(m_options.registry_key)) kavro::ui::message_box(kNotInstalled, "Erreur", kavro::ui::MB_OK);
    const std::optional<std::string> folder = reg::get_string(m_options.registry_key, "Installation");
    if (!folder || folder->size() >= kFolderRoom) {
        kavro::ui::message_box(kNotInstalled, "Erreur", kavro::ui::MB_OK);
        return; // the files are then looked for in the current folder
    }
    m_folder = *folder;
    if (!m_folder.empty() && m_folder.back() != '/') m_folder += '/';
}

HRESULT CMesh::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IMesh) return GetInterface(static_cast<IMesh*>(this), object);
    if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
    return CSource::NonDelegatingQueryInterface(riid, object);
}

HRESULT CMesh::SetServer(BYTE a, BYTE b, BYTE c, BYTE d, std::int32_t port) {
    m_settings.set_server(a, b, c, d, port);
    return S_OK;
}

HRESULT CMesh::GetServer(BYTE* a, BYTE* b, BYTE* c, BYTE* d, std::int32_t* port) {
    if (!a || !b || !c || !d || !port) return E_POINTER;
    m_settings.get_server(a, b, c, d, port);
    return S_OK;
}

HRESULT CMesh::SetNodeName(const char* address, const char* name) {
    m_settings.set_node_name(address ? address : "", name ? name : "");
    return S_OK;
}

HRESULT CMesh::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->cElems = 1;
    pages->pElems[0] = CLSID_MeshProp;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------
// CMeshStream

CMeshStream::CMeshStream(HRESULT* phr, CMesh* filter, const char* pinName)
    : CSourceStream(nullptr, phr, filter, pinName), m_defaultFrame(new std::uint8_t[mesh::kFrameBytes]),
      m_drawer(create_layout(filter->Options().layout), filter->PicturePath(), filter->Options().print_topology),
      m_topology(filter->Settings(), m_frame, m_drawer, filter->Options().timing) {
    std::memset(m_defaultFrame.get(), 255, mesh::kFrameBytes);
}

CMeshStream::~CMeshStream() {
    // The thread uses the buffers, the decoder and the layout component: it ends before they go.
    m_topology.stop();
    m_topology.join();
}

void CMeshStream::SetDefaultPicture(const image_pnm& picture) {
    mesh::fit_picture(picture.pixels(), picture.width(), picture.height(), m_defaultFrame.get());
}

LONG CMeshStream::FrameInterval() {
    CAutoLock lock(&m_sharedLock);
    return m_interval;
}

REFERENCE_TIME CMeshStream::NextSampleTime() {
    CAutoLock lock(&m_sharedLock);
    return m_next;
}

HRESULT CMeshStream::FillBuffer(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG size = sample->GetSize();
    // Never past this sample's buffer (a connection may have agreed a smaller frame).
    const std::size_t bytes = size < LONG(mesh::kFrameBytes) ? std::size_t(size < 0 ? 0 : size) : mesh::kFrameBytes;
    if (data && bytes > 0) {
        if (!m_frame.picture_ready.load()) {
            std::memcpy(data, m_defaultFrame.get(), bytes);
        } else {
            std::lock_guard g(m_frame.busy);
            std::memcpy(data, m_frame.frame.get(), bytes);
        }
    }
    CAutoLock lock(&m_sharedLock);
    REFERENCE_TIME start = m_next;
    m_next += REFERENCE_TIME(m_interval) * 10000;
    sample->SetTime(&start, &m_next);
    sample->SetSyncPoint(TRUE);
    return S_OK;
}

HRESULT CMeshStream::OnThreadCreate() {
    CAutoLock lock(&m_sharedLock);
    m_next = 0;
    m_interval = mesh::kDefaultFrameMs;
    return S_OK;
}

HRESULT CMeshStream::OnThreadStartPlay() {
    m_topology.start();
    return S_OK;
}

HRESULT CMeshStream::OnThreadDestroy() {
    m_topology.stop();
    return S_OK;
}

HRESULT CMeshStream::Notify(IBaseFilter*, Quality q) {
    CAutoLock lock(&m_sharedLock);
    if (q.Proportion <= 0) {
        m_interval = 1000;
    } else {
        m_interval = LONG(std::int64_t(m_interval) * 1000 / q.Proportion);
        if (m_interval > 1000) m_interval = 1000;
        if (m_interval < 10) m_interval = 10;
    }
    if (q.Late > 0) m_next += q.Late;
    return S_OK;
}

HRESULT CMeshStream::GetMediaType(int position, CMediaType* mt) {
    if (!mt) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    // 24-bit RGB, rows top first.
    return SetUncompressedVideoType(mt, {&MEDIASUBTYPE_RGB24, mesh::kFrameWidth, -mesh::kFrameHeight, 24});
}

HRESULT CMeshStream::CheckMediaType(const CMediaType* mt) {
    if (!mt) return E_POINTER;
    if (*mt->Type() == MEDIATYPE_Video && mt->IsFixedSize() && *mt->Subtype() == MEDIASUBTYPE_RGB24 &&
        mt->Format() != nullptr)
        return S_OK;
    return E_INVALIDARG;
}

HRESULT CMeshStream::SetMediaType(const CMediaType* mt) {
    CAutoLock lock(m_pFilter->pStateLock());
    const HRESULT hr = CSourceStream::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_mt.Format() ? S_OK : E_UNEXPECTED;
}

HRESULT CMeshStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (!allocator || !request) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    const auto* vi = reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format());
    if (!vi || m_mt.FormatLength() < sizeof(VIDEOINFOHEADER)) return E_UNEXPECTED;
    request->cBuffers = 1;
    request->cbBuffer = static_cast<LONG>(vi->bmiHeader.biSizeImage);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < request->cbBuffer) return E_FAIL;
    return S_OK;
}
