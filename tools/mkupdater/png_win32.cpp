// PNG reading and writing on Windows, through the system's Windows Imaging Component: nothing
// to build or ship for it. Pixels are read as 8-bit BGRA and composited onto black by
// CompositeOnBlack, as on Linux.
#include <windows.h>

#include <wincodec.h>

#include <string>

#include "rct_codec.h"
#include "tool.h"

namespace mkupdater {
namespace {

// The GUIDs, spelled out: the import libraries of older toolchains lack some of them.
constexpr CLSID kFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
constexpr IID kIFactory = {0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
constexpr GUID kPng = {0x1b7cfaf4, 0x713f, 0x473c, {0xbb, 0xcd, 0x61, 0x37, 0x42, 0x5f, 0xae, 0xaf}};
constexpr GUID kBgr24 = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0c}};
constexpr GUID kBgra32 = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};

template <typename T>
struct Com {
  T* p = nullptr;
  ~Com() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() { return p; }
};

std::wstring Wide(const char* utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring w(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &w[0], n);
  w.resize(w.size() - 1);
  return w;
}

// COM for the calling thread, once; the process ends with it.
bool StartCom() {
  static const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
}

std::string Why(HRESULT hr) { return Format("WIC error 0x%08lX", static_cast<unsigned long>(hr)); }

}  // namespace

int ReadPng(const char* path, BgrImage* out, std::string* error) {
  Com<IWICImagingFactory> factory;
  Com<IWICBitmapDecoder> decoder;
  Com<IWICBitmapFrameDecode> frame;
  Com<IWICFormatConverter> converter;
  GUID container{};
  UINT w = 0, h = 0;
  HRESULT hr = StartCom() ? S_OK : E_FAIL;
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(kFactory, nullptr, CLSCTX_INPROC_SERVER, kIFactory,
                          reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr))
    hr = factory->CreateDecoderFromFilename(Wide(path).c_str(), nullptr, GENERIC_READ,
                                            WICDecodeMetadataCacheOnDemand, &decoder);
  if (SUCCEEDED(hr)) hr = decoder->GetContainerFormat(&container);
  if (SUCCEEDED(hr) && container != kPng) {
    *error = Format(text::kPngRead, path, "not a PNG file");
    return -1;
  }
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(hr)) hr = frame->GetSize(&w, &h);
  if (FAILED(hr)) {
    *error = Format(text::kPngRead, path,
                    hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? "no such file" : Why(hr).c_str());
    return -1;
  }
  if (std::uint64_t{w} * h * 4 > INT32_MAX) {
    *error = Format(text::kPngTooLarge, path);
    return -1;
  }
  std::vector<std::uint8_t> bgra(std::size_t{w} * h * 4);
  hr = factory->CreateFormatConverter(&converter);
  if (SUCCEEDED(hr))
    hr = converter->Initialize(frame.p, kBgra32, WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
  if (SUCCEEDED(hr)) hr = converter->CopyPixels(nullptr, w * 4, static_cast<UINT>(bgra.size()), bgra.data());
  if (FAILED(hr)) {
    *error = Format(text::kPngRead, path, Why(hr).c_str());
    return -1;
  }
  out->width = static_cast<std::int32_t>(w);
  out->height = static_cast<std::int32_t>(h);
  CompositeOnBlack(bgra, out);
  return 0;
}

int WritePng(const char* path, const BgrImage& image, std::string* error) {
  Com<IWICImagingFactory> factory;
  Com<IWICStream> stream;
  Com<IWICBitmapEncoder> encoder;
  Com<IWICBitmapFrameEncode> frame;
  WICPixelFormatGUID format = kBgr24;
  const UINT w = static_cast<UINT>(image.width), h = static_cast<UINT>(image.height);
  HRESULT hr = StartCom() ? S_OK : E_FAIL;
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(kFactory, nullptr, CLSCTX_INPROC_SERVER, kIFactory,
                          reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
  if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(Wide(path).c_str(), GENERIC_WRITE);
  if (SUCCEEDED(hr)) hr = factory->CreateEncoder(kPng, nullptr, &encoder);
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.p, WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, nullptr);
  if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
  if (SUCCEEDED(hr)) hr = frame->SetSize(w, h);
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
  if (SUCCEEDED(hr) && format != kBgr24) hr = E_FAIL;
  if (SUCCEEDED(hr))
    hr = frame->WritePixels(h, w * 3, static_cast<UINT>(image.pixels.size()),
                            const_cast<BYTE*>(image.pixels.data()));
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  if (FAILED(hr)) {
    *error = Format(text::kPngWrite, path, Why(hr).c_str());
    return -1;
  }
  return 0;
}

}  // namespace mkupdater
