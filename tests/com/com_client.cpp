// A COM client of VorSensorNLib, run under Wine by scripts/test_windows.sh.
//   com_client events <test module> <image folder> <template file>
//     the test build on the simulated sensor, loaded by file name: DataEvent
//     for enrolment, verification and identification captures, on this
//     thread while it pumps; writes the three templates it received.
//   com_client registered <template file>
//     the registered product: registry entries, both ProgIDs, the type
//     information, every method through the table and through IDispatch,
//     Verify and Identify with the argument shapes C++ and script hosts send.
//   com_client unregistered
//     what unregistration left: nothing of the module, CLSID itself intact.
// Every check prints one line; the last line is "RESULT pass=N fail=M".
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "VorSensorNLib.h"

namespace {

int passed = 0;
int failed = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  (ok ? passed : failed) += 1;
}

void CheckEqual(long answer, long expected, const std::string& what) {
  Check(answer == expected, what + " = " + std::to_string(answer) +
                                (answer == expected ? "" : " (expected " + std::to_string(expected) + ")"));
}

int Finish() {
  std::printf("RESULT pass=%d fail=%d\n", passed, failed);
  std::fflush(stdout);
  return failed == 0 ? 0 : 1;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

constexpr size_t kImageBytes = 256 * 288;
constexpr DWORD kJobPatienceMs = 60000;

// Handles this thread's messages until `done` holds or the patience runs out.
template <typename Done>
bool PumpUntil(Done done, DWORD patienceMs) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const ULONGLONG waited = GetTickCount64() - start;
    if (waited >= patienceMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

// A DataEvent sink: keeps every event with the thread it arrived on.
class EventSink final : public IDispatch {
 public:
  struct Event {
    long status;
    std::string text;
    DWORD thread;
  };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID__IVorSensorNEvents)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }  // lives on main's stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    // DataEvent(status, Template): arguments in reverse order.
    if (id != 1 || !(flags & DISPATCH_METHOD) || parameters == nullptr || parameters->cArgs != 2 ||
        V_VT(&parameters->rgvarg[1]) != VT_I4 || V_VT(&parameters->rgvarg[0]) != VT_BSTR) {
      ++malformed;
      return DISP_E_BADPARAMCOUNT;
    }
    events.push_back({V_I4(&parameters->rgvarg[1]), Narrow(V_BSTR(&parameters->rgvarg[0])), GetCurrentThreadId()});
    return S_OK;
  }

  std::vector<Event> events;
  int malformed = 0;
  ULONG references = 1;
};

// An outer object for the aggregation check: it only holds the inner unknown.
class Outer final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner != nullptr ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  IUnknown* inner = nullptr;
  ULONG references = 1;
};

// Calls `name` through IDispatch with `args` (in call order); the LONG result
// (or `fallback` when the call fails or gives none) and its HRESULT.
HRESULT CallByName(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args, LONG* answer) {
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
  DISPID id = 0;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS parameters = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()),
                           0};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO exception = {};
  UINT argumentError = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result, &exception,
                      &argumentError);
  if (answer != nullptr) {
    *answer = -999;
    if (SUCCEEDED(hr) && V_VT(&result) != VT_EMPTY && SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I4))) {
      *answer = V_I4(&result);
    }
  }
  VariantClear(&result);
  return hr;
}

VARIANT BstrVariant(const std::string& text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(Wide(text).c_str());
  return v;
}
VARIANT IntVariant(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

// A one-dimensional array of BSTR (or of VARIANTs holding BSTRs) from `lower`.
SAFEARRAY* TextArray(const std::vector<std::string>& texts, VARTYPE type, LONG lower = 0) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(texts.size()), lower};
  SAFEARRAY* array = SafeArrayCreate(type, 1, &bound);
  for (size_t i = 0; i < texts.size(); ++i) {
    LONG index = lower + static_cast<LONG>(i);
    if (type == VT_BSTR) {
      BSTR text = SysAllocString(Wide(texts[i]).c_str());
      SafeArrayPutElement(array, &index, text);
      SysFreeString(text);
    } else {
      VARIANT v = BstrVariant(texts[i]);
      SafeArrayPutElement(array, &index, &v);
      VariantClear(&v);
    }
  }
  return array;
}

VARIANT ArrayVariant(SAFEARRAY* array, VARTYPE type) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = static_cast<VARTYPE>(VT_ARRAY | type);
  V_ARRAY(&v) = array;
  return v;
}

// ---------------------------------------------------------------------------
// events: the test build on the simulated sensor.

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using RegisterFunction = HRESULT(STDAPICALLTYPE*)();
using QueueFunction = int (*)(const unsigned char*, int);
using QueuedFunction = int (*)();
QueuedFunction queued = nullptr;

std::vector<unsigned char> ReadImages(const std::string& folder, const std::vector<std::string>& names) {
  std::vector<unsigned char> images;
  for (const std::string& name : names) {
    std::ifstream file(folder + "\\" + name + ".raw", std::ios::binary);
    std::vector<unsigned char> image(kImageBytes);
    file.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (static_cast<size_t>(file.gcount()) != kImageBytes) {
      Check(false, "read image " + name);
      return {};
    }
    images.insert(images.end(), image.begin(), image.end());
  }
  return images;
}

// Queues the images and makes the request until a capture has taken the
// first image (a request made while the worker is still finishing the last
// job is dropped, as the object intends), then waits for the event.
bool RunJob(IVorSensorN* object, EventSink& sink, QueueFunction queue, const std::string& folder,
            const std::vector<std::string>& images, HRESULT (STDMETHODCALLTYPE IVorSensorN::*request)(),
            size_t expectedEvents) {
  const std::vector<unsigned char> raw = ReadImages(folder, images);
  if (raw.empty()) return false;
  const int count = static_cast<int>(images.size());
  queue(raw.data(), count);
  const bool taken = PumpUntil(
      [&] {
        if (queued() < count) return true;
        (object->*request)();
        return PumpUntil([&] { return queued() < count; }, 200);
      },
      kJobPatienceMs);
  return taken && PumpUntil([&] { return sink.events.size() >= expectedEvents; }, kJobPatienceMs);
}

int RunEvents(const std::string& modulePath, const std::string& folder, const std::string& templateFile) {
  HMODULE module = LoadLibraryA(modulePath.c_str());
  Check(module != nullptr, "load the test build " + modulePath);
  if (module == nullptr) return Finish();
  auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  auto registerServer =
      reinterpret_cast<RegisterFunction>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  auto queue = reinterpret_cast<QueueFunction>(reinterpret_cast<void*>(GetProcAddress(module, "SimulatedSensorQueue")));
  queued = reinterpret_cast<QueuedFunction>(reinterpret_cast<void*>(GetProcAddress(module, "SimulatedSensorQueued")));
  auto canUnload =
      reinterpret_cast<RegisterFunction>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  const bool exports = getClassObject != nullptr && registerServer != nullptr && queue != nullptr &&
                       queued != nullptr && canUnload != nullptr;
  Check(exports, "the test build's exports");
  if (!exports) return Finish();
  Check(canUnload() == S_OK, "DllCanUnloadNow before any object: S_OK");
  Check(registerServer() == SELFREG_E_CLASS, "the test build refuses registration");

  IClassFactory* factory = nullptr;
  Check(getClassObject(CLSID_VorSensorN, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK,
        "DllGetClassObject(CLSID_VorSensorN)");
  IVorSensorN* object = nullptr;
  if (factory != nullptr) {
    factory->CreateInstance(nullptr, IID_IVorSensorN, reinterpret_cast<void**>(&object));
    factory->Release();
  }
  Check(object != nullptr, "create the object on the simulated sensor");
  if (object == nullptr) return Finish();
  Check(canUnload() == S_FALSE, "DllCanUnloadNow while an object lives: S_FALSE");

  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  if (container != nullptr) container->FindConnectionPoint(DIID__IVorSensorNEvents, &point);
  Check(point != nullptr, "FindConnectionPoint(_IVorSensorNEvents)");
  if (point == nullptr) return Finish();
  IConnectionPoint* none = nullptr;
  Check(container->FindConnectionPoint(IID_IDispatch, &none) == CONNECT_E_NOCONNECTION && none == nullptr,
        "no connection point for another interface");
  EventSink sink;
  DWORD cookie = 0;
  Check(point->Advise(&sink, &cookie) == S_OK && cookie != 0, "Advise");

  // The live display: a window of twice the image's size.
  HWND display = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 512, 576, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
  LONG previous = -1;
  object->SetDisplay(static_cast<LONG>(reinterpret_cast<LONG_PTR>(display)), &previous);
  CheckEqual(previous, 0, "SetDisplay before any: previous display");
  object->Open();
  const DWORD self = GetCurrentThreadId();

  // Enrolment: four impressions of finger 1.
  bool ok = RunJob(object, sink, queue, folder, {"f01_i1", "f01_i2", "f01_i3", "f01_i4"}, &IVorSensorN::StartEnroll, 1);
  Check(ok && sink.events[0].status == DATA_ENROLL && sink.events[0].text.size() == 1000,
        "StartEnroll: DataEvent(DATA_ENROLL, 1000 digits)");
  // Verification capture: finger 1 again, then finger 2 by identification capture.
  ok = ok && RunJob(object, sink, queue, folder, {"f01_i4"}, &IVorSensorN::VerifyCapture, 2);
  Check(ok && sink.events[1].status == DATA_VERIFY_CAPTURE && sink.events[1].text.size() == 1000,
        "VerifyCapture: DataEvent(DATA_VERIFY_CAPTURE, 1000 digits)");
  ok = ok && RunJob(object, sink, queue, folder, {"f02_i1"}, &IVorSensorN::IdentifyCapture, 3);
  Check(ok && sink.events[2].status == DATA_IDENTIFY_CAPTURE && sink.events[2].text.size() == 1000,
        "IdentifyCapture: DataEvent(DATA_IDENTIFY_CAPTURE, 1000 digits)");
  bool onThisThread = true;
  for (const EventSink::Event& e : sink.events) onThisThread = onThisThread && e.thread == self;
  Check(ok && onThisThread, "every DataEvent arrived on the client's thread");
  Check(sink.malformed == 0, "every DataEvent had (VT_I4 status, VT_BSTR text)");
  if (!ok) return Finish();

  const std::string enrolled = sink.events[0].text;
  const std::string same = sink.events[1].text;
  const std::string other = sink.events[2].text;
  LONG answer = -1;
  BSTR first = SysAllocString(Wide(enrolled).c_str());
  BSTR second = SysAllocString(Wide(same).c_str());
  object->Verify(first, second, &answer);
  CheckEqual(answer, 1, "Verify(enrolled, same finger captured)");
  SysFreeString(first);
  SysFreeString(second);

  // Two sinks: both receive the same event, each its own copy.
  EventSink another;
  DWORD secondCookie = 0;
  point->Advise(&another, &secondCookie);
  // The enumerators: one connection point, two connections with their cookies.
  IEnumConnectionPoints* points = nullptr;
  IConnectionPoint* listed[2] = {};
  ULONG fetched = 0;
  IID listedIid = IID_NULL;
  if (SUCCEEDED(container->EnumConnectionPoints(&points)) && points != nullptr) {
    points->Next(2, listed, &fetched);
    if (fetched >= 1) listed[0]->GetConnectionInterface(&listedIid);
    for (ULONG i = 0; i < fetched; ++i) listed[i]->Release();
    points->Release();
  }
  Check(fetched == 1 && IsEqualIID(listedIid, DIID__IVorSensorNEvents), "EnumConnectionPoints: _IVorSensorNEvents only");
  IEnumConnections* connections = nullptr;
  CONNECTDATA data[3] = {};
  fetched = 0;
  if (SUCCEEDED(point->EnumConnections(&connections)) && connections != nullptr) {
    connections->Next(3, data, &fetched);
    for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
    connections->Release();
  }
  Check(fetched == 2 && data[0].dwCookie == cookie && data[1].dwCookie == secondCookie,
        "EnumConnections: both sinks with their cookies");
  ok = RunJob(object, sink, queue, folder, {"f01_i2"}, &IVorSensorN::VerifyCapture, 4) &&
       PumpUntil([&] { return another.events.size() >= 1; }, kJobPatienceMs);
  Check(ok && another.events.size() == 1 && sink.events.size() == 4 && another.events[0].text == sink.events[3].text &&
            another.events[0].status == DATA_VERIFY_CAPTURE,
        "two sinks: both receive the same DataEvent");
  Check(point->Unadvise(secondCookie) == S_OK && point->Unadvise(secondCookie) == CONNECT_E_NOCONNECTION,
        "Unadvise, and again for the same cookie");

  // Close during a capture that StopCapture has cancelled returns; no event.
  const size_t before = sink.events.size();
  queue(nullptr, 0);  // nobody lays a finger on the sensor
  object->VerifyCapture();
  Sleep(200);
  object->StopCapture();
  object->Close();
  PumpUntil([] { return false; }, 300);
  CheckEqual(static_cast<long>(sink.events.size() - before), 0, "StopCapture then Close: no DataEvent");

  point->Unadvise(cookie);
  point->Release();
  container->Release();
  object->Release();
  DestroyWindow(display);
  Check(canUnload() == S_OK, "DllCanUnloadNow after the last release: S_OK");

  std::ofstream out(templateFile);
  out << enrolled << "\n" << same << "\n" << other << "\n";
  Check(static_cast<bool>(out), "write the templates to " + templateFile);
  return Finish();
}

// ---------------------------------------------------------------------------
// registered: the product through the registry.

const wchar_t kClsid[] = L"{F9A24098-C40F-495C-B8B3-DA5D5A5DB762}";
const wchar_t kLibid[] = L"{7C83C7C8-C781-4ABC-80ED-37E09802F80D}";
const wchar_t kAppId[] = L"{AE60445D-8D48-4F75-9271-E08F2660AEA8}";

bool KeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// The string value `name` (null: the default) of `key`, or "<missing>".
std::wstring ValueOf(const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  DWORD type = 0;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return L"<missing>";
  const LONG error = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(handle);
  if (error != ERROR_SUCCESS || type != REG_SZ) return L"<missing>";
  return buffer;
}

void CheckValue(const std::wstring& key, const wchar_t* name, const std::wstring& expected) {
  const std::wstring value = ValueOf(key, name);
  Check(value == expected, "HKCR\\" + Narrow(key.c_str()) + (name ? " [" + Narrow(name) + "]" : std::string()) +
                               " = " + Narrow(value.c_str()));
}

void CheckRegistry(const std::wstring& modulePath) {
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsid;
  CheckValue(L"VorSensorNLib.VorSensorN.1", nullptr, L"VorSensorN Class");
  CheckValue(L"VorSensorNLib.VorSensorN.1\\CLSID", nullptr, kClsid);
  CheckValue(L"VorSensorNLib.VorSensorN", nullptr, L"VorSensorN Class");
  CheckValue(L"VorSensorNLib.VorSensorN\\CLSID", nullptr, kClsid);
  CheckValue(L"VorSensorNLib.VorSensorN\\CurVer", nullptr, L"VorSensorNLib.VorSensorN.1");
  CheckValue(clsidKey, nullptr, L"VorSensorN Class");
  CheckValue(clsidKey, L"AppID", kAppId);
  CheckValue(clsidKey + L"\\ProgID", nullptr, L"VorSensorNLib.VorSensorN.1");
  CheckValue(clsidKey + L"\\VersionIndependentProgID", nullptr, L"VorSensorNLib.VorSensorN");
  Check(KeyExists(clsidKey + L"\\Programmable"), "HKCR\\CLSID\\{...}\\Programmable exists");
  const std::wstring server = ValueOf(clsidKey + L"\\InprocServer32", nullptr);
  Check(lstrcmpiW(server.c_str(), modulePath.c_str()) == 0,
        "InprocServer32 = the module's full path (" + Narrow(server.c_str()) + ")");
  CheckValue(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
  CheckValue(clsidKey + L"\\TypeLib", nullptr, kLibid);
  CheckValue(std::wstring(L"AppID\\") + kAppId, nullptr, L"VorSensorNLib");
  CheckValue(L"AppID\\VorSensorNLib.DLL", L"AppID", kAppId);
  Check(KeyExists(std::wstring(L"TypeLib\\") + kLibid + L"\\1.0"), "HKCR\\TypeLib\\{LIBID}\\1.0 exists");
}

void CheckTypeInfo(IDispatch* object) {
  UINT count = 0;
  object->GetTypeInfoCount(&count);
  CheckEqual(static_cast<long>(count), 1, "GetTypeInfoCount");
  ITypeInfo* info = nullptr;
  if (FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) || info == nullptr) {
    Check(false, "GetTypeInfo");
    return;
  }
  TYPEATTR* attributes = nullptr;
  info->GetTypeAttr(&attributes);
  Check(attributes != nullptr && IsEqualGUID(attributes->guid, IID_IVorSensorN), "type information of IVorSensorN");
  const long functions = attributes != nullptr ? attributes->cFuncs : -1;
  CheckEqual(functions, 9, "IVorSensorN methods in the type information");
  const wchar_t* expected[9] = {L"Open", L"Close", L"StartEnroll", L"SetDisplay", L"StopCapture",
                                L"VerifyCapture", L"Verify", L"Identify", L"IdentifyCapture"};
  bool allRight = functions == 9;
  for (UINT i = 0; allRight && i < 9; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) {
      allRight = false;
      break;
    }
    BSTR name = nullptr;
    UINT names = 0;
    info->GetNames(function->memid, &name, 1, &names);
    const bool right = function->memid == static_cast<MEMBERID>(i + 1) && name != nullptr &&
                       lstrcmpW(name, expected[i]) == 0 && function->invkind == INVOKE_FUNC;
    if (!right) std::printf("     method %u: id %ld %s\n", i, function->memid, Narrow(name).c_str());
    allRight = allRight && right;
    SysFreeString(name);
    info->ReleaseFuncDesc(function);
  }
  Check(allRight, "methods Open .. IdentifyCapture with dispatch ids 1 .. 9 in table order");
  if (attributes != nullptr) info->ReleaseTypeAttr(attributes);

  // The library's help string and the event interface, as the type library carries them.
  ITypeLib* library = nullptr;
  UINT index = 0;
  if (SUCCEEDED(info->GetContainingTypeLib(&library, &index))) {
    BSTR help = nullptr;
    library->GetDocumentation(-1, nullptr, &help, nullptr, nullptr);
    const std::wstring expectedHelp = L"VorSensorNLib 1.0 \u578b\u5225\u7a0b\u5f0f\u5eab";
    // The type library holds its strings in code page 950 (Traditional
    // Chinese). Read on another system they come back as that system's
    // characters for the same bytes; those bytes read as code page 950 must
    // give the exact text.
    std::wstring read = help != nullptr ? help : L"";
    if (GetACP() != 950 && !read.empty()) {
      std::string bytes(read.size() * 2 + 1, '\0');
      const int n = WideCharToMultiByte(CP_ACP, 0, read.c_str(), -1, &bytes[0], static_cast<int>(bytes.size()),
                                        nullptr, nullptr);
      std::wstring decoded(bytes.size(), L'\0');
      const int m = n > 0 ? MultiByteToWideChar(950, 0, bytes.c_str(), -1, &decoded[0], static_cast<int>(decoded.size()))
                          : 0;
      read = m > 0 ? decoded.substr(0, static_cast<size_t>(m - 1)) : L"";
    }
    const bool exact = read == expectedHelp;
    if (!exact) {
      std::printf("     code page %u, help string:", GetACP());
      for (wchar_t c : read) std::printf(" %04x", static_cast<unsigned>(c));
      std::printf("\n");
    }
    Check(exact, "library help string in code page 950: \"VorSensorNLib 1.0 \\u578b\\u5225\\u7a0b\\u5f0f\\u5eab\"");
    SysFreeString(help);
    ITypeInfo* events = nullptr;
    library->GetTypeInfoOfGuid(DIID__IVorSensorNEvents, &events);
    Check(events != nullptr, "the type library describes _IVorSensorNEvents");
    if (events != nullptr) {
      FUNCDESC* function = nullptr;
      BSTR name = nullptr;
      UINT names = 0;
      bool right = SUCCEEDED(events->GetFuncDesc(0, &function)) && function->memid == 1 && function->cParams == 2;
      if (function != nullptr) {
        events->GetNames(function->memid, &name, 1, &names);
        events->ReleaseFuncDesc(function);
      }
      Check(right && name != nullptr && lstrcmpW(name, L"DataEvent") == 0, "DataEvent: dispatch id 1, 2 parameters");
      SysFreeString(name);
      events->Release();
    }
    library->Release();
  }
  info->Release();
}

// Identify through IDispatch with `reference` as the second argument.
LONG IdentifyByDispatch(IDispatch* object, const std::string& sample, VARIANT reference) {
  LONG answer = -999;
  HRESULT hr = CallByName(object, L"Identify", {BstrVariant(sample), reference}, &answer);
  if (FAILED(hr)) std::printf("     Identify by IDispatch failed: 0x%08lx\n", static_cast<unsigned long>(hr));
  return answer;
}

void CheckArguments(IVorSensorN* object, const std::string& enrolled, const std::string& same,
                    const std::string& other) {
  BSTR a = SysAllocString(Wide(enrolled).c_str());
  BSTR b = SysAllocString(Wide(same).c_str());
  BSTR c = SysAllocString(Wide(other).c_str());
  LONG answer = -999;
  object->Verify(a, b, &answer);
  CheckEqual(answer, 1, "Verify(enrolled, same finger) through the table");
  object->Verify(a, c, &answer);
  CheckEqual(answer, 0, "Verify(enrolled, other finger) through the table");
  CallByName(object, L"Verify", {BstrVariant(enrolled), BstrVariant(same)}, &answer);
  CheckEqual(answer, 1, "Verify(enrolled, same finger) through IDispatch");

  // The shapes of the reference list. Index 1 is the enrolled finger.
  const std::vector<std::string> list = {other, enrolled};
  struct Case {
    const char* what;
    VARIANT reference;
    LONG expected;
  };
  SAFEARRAY* variants = TextArray(list, VT_VARIANT);
  VARIANT byReference;  // what VBScript sends for Array(...)
  VARIANT referenced = ArrayVariant(variants, VT_VARIANT);
  VariantInit(&byReference);
  V_VT(&byReference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&byReference) = &referenced;
  SAFEARRAYBOUND empty = {0, 0};
  Case cases[] = {
      {"SAFEARRAY of BSTR (C++)", ArrayVariant(TextArray(list, VT_BSTR), VT_BSTR), 1},
      {"SAFEARRAY of BSTR from lower bound 1", ArrayVariant(TextArray(list, VT_BSTR, 1), VT_BSTR), 1},
      {"SAFEARRAY of VARIANT", ArrayVariant(TextArray(list, VT_VARIANT), VT_VARIANT), 1},
      {"by-reference VARIANT holding a SAFEARRAY of VARIANT (VBScript)", byReference, 1},
      {"one matching element", ArrayVariant(TextArray({enrolled}, VT_BSTR), VT_BSTR), 0},
      {"no matching element", ArrayVariant(TextArray({other}, VT_BSTR), VT_BSTR), -1},
      {"empty array", ArrayVariant(SafeArrayCreate(VT_BSTR, 1, &empty), VT_BSTR), -1},
      {"an integer instead of a list", IntVariant(5), -1},
  };
  for (Case& c : cases) {
    answer = -999;
    object->Identify(b, c.reference, &answer);
    CheckEqual(answer, c.expected, std::string("Identify through the table, ") + c.what);
    CheckEqual(IdentifyByDispatch(object, same, c.reference), c.expected,
               std::string("Identify through IDispatch, ") + c.what);
    if (V_VT(&c.reference) != (VT_BYREF | VT_VARIANT)) VariantClear(&c.reference);
  }
  VariantClear(&referenced);
  SysFreeString(a);
  SysFreeString(b);
  SysFreeString(c);
}

// Calls every method through the table and through IDispatch on an object
// without a sensor; every call succeeds, the answers come in the results.
void CheckEveryMethod(IVorSensorN* object, const std::string& enrolled) {
  LONG answer = -999;
  BSTR text = SysAllocString(Wide(enrolled).c_str());
  VARIANT list = ArrayVariant(TextArray({enrolled}, VT_BSTR), VT_BSTR);
  // Closed: Verify 0, Identify -1; requests ignored.
  bool allOk = object->StartEnroll() == S_OK && object->VerifyCapture() == S_OK &&
               object->IdentifyCapture() == S_OK && object->StopCapture() == S_OK && object->Close() == S_OK;
  Check(allOk, "closed: StartEnroll, VerifyCapture, IdentifyCapture, StopCapture, Close return S_OK");
  object->Verify(text, text, &answer);
  CheckEqual(answer, 0, "closed: Verify");
  object->Identify(text, list, &answer);
  CheckEqual(answer, -1, "closed: Identify");
  object->SetDisplay(1234, &answer);
  object->SetDisplay(0, &answer);
  CheckEqual(answer, 1234, "SetDisplay returns the previous display (closed)");
  Check(object->SetDisplay(0, nullptr) == E_POINTER, "SetDisplay without pVal: E_POINTER");

  allOk = object->Open() == S_OK && object->StartEnroll() == S_OK && object->VerifyCapture() == S_OK &&
          object->IdentifyCapture() == S_OK && object->StopCapture() == S_OK;
  Check(allOk, "open: Open, StartEnroll, VerifyCapture, IdentifyCapture, StopCapture return S_OK");
  object->Verify(text, text, &answer);
  CheckEqual(answer, 1, "open: Verify(enrolled, enrolled)");
  object->Identify(text, list, &answer);
  CheckEqual(answer, 0, "open: Identify(enrolled, [enrolled])");
  Check(object->Close() == S_OK, "Close");

  // The same nine through IDispatch, by name.
  struct Call {
    const wchar_t* name;
    std::vector<VARIANT> args;
    LONG expected;  // -999: no result
  };
  std::vector<Call> calls = {
      {L"Open", {}, -999},
      {L"StartEnroll", {}, -999},
      {L"VerifyCapture", {}, -999},
      {L"IdentifyCapture", {}, -999},
      {L"StopCapture", {}, -999},
      {L"SetDisplay", {IntVariant(77)}, 0},
      {L"SetDisplay", {IntVariant(0)}, 77},
      {L"Verify", {BstrVariant(enrolled), BstrVariant(enrolled)}, 1},
      {L"Identify", {BstrVariant(enrolled), list}, 0},
      {L"Close", {}, -999},
      {L"Verify", {BstrVariant(enrolled), BstrVariant(enrolled)}, 0},
  };
  for (Call& call : calls) {
    answer = -999;
    const HRESULT hr = CallByName(object, call.name, call.args, &answer);
    Check(hr == S_OK && answer == call.expected,
          "IDispatch " + Narrow(call.name) + " -> hr " + std::to_string(static_cast<long>(hr)) + ", " +
              std::to_string(answer));
    for (VARIANT& v : call.args) {
      if (V_VT(&v) == VT_BSTR) VariantClear(&v);
    }
  }
  LPOLESTR unknown[1] = {const_cast<LPOLESTR>(L"NoSuchMethod")};
  DISPID id = 0;
  Check(object->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id) == DISP_E_UNKNOWNNAME,
        "GetIDsOfNames(NoSuchMethod) = DISP_E_UNKNOWNNAME");
  VariantClear(&list);
  SysFreeString(text);
}

std::vector<std::string> ReadTemplates(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The module's resources: string 100 and the version.
void CheckResources(const std::wstring& modulePath) {
  HMODULE module = LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  wchar_t text[64] = {};
  if (module != nullptr) LoadStringW(module, 100, text, 64);
  Check(lstrcmpW(text, L"VorSensorNLib") == 0, "string 100 = " + Narrow(text));
  if (module != nullptr) FreeLibrary(module);

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(modulePath.c_str(), &ignored);
  std::vector<unsigned char> block(size);
  const bool read = size > 0 && GetFileVersionInfoW(modulePath.c_str(), 0, size, block.data());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  const bool hasFixed = read && VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
                        fixed != nullptr;
  Check(hasFixed && fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0x00000002,
        "file version 1,0,0,2");
  Check(hasFixed && fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0x00030000,
        "product version 1,0,3,0");
  for (const wchar_t* name : {L"InternalName", L"OriginalFilename"}) {
    wchar_t* value = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    const bool found = read && VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) &&
                       value != nullptr;
    Check(found && lstrcmpW(value, L"VorSensorNLib.dll") == 0,
          Narrow(name) + " = " + (found ? Narrow(value) : std::string("<missing>")));
  }
}

int RunRegistered(const std::string& templateFile, const std::string& modulePath) {
  CheckRegistry(Wide(modulePath));
  CheckResources(Wide(modulePath));
  CLSID byVersioned = {};
  CLSID byIndependent = {};
  Check(CLSIDFromProgID(L"VorSensorNLib.VorSensorN.1", &byVersioned) == S_OK &&
            IsEqualCLSID(byVersioned, CLSID_VorSensorN),
        "CLSIDFromProgID(VorSensorNLib.VorSensorN.1)");
  Check(CLSIDFromProgID(L"VorSensorNLib.VorSensorN", &byIndependent) == S_OK &&
            IsEqualCLSID(byIndependent, CLSID_VorSensorN),
        "CLSIDFromProgID(VorSensorNLib.VorSensorN)");
  IVorSensorN* versioned = nullptr;
  IVorSensorN* object = nullptr;
  Check(CoCreateInstance(byVersioned, nullptr, CLSCTX_INPROC_SERVER, IID_IVorSensorN,
                         reinterpret_cast<void**>(&versioned)) == S_OK,
        "create by ProgID VorSensorNLib.VorSensorN.1");
  if (versioned != nullptr) versioned->Release();
  Check(CoCreateInstance(byIndependent, nullptr, CLSCTX_INPROC_SERVER, IID_IVorSensorN,
                         reinterpret_cast<void**>(&object)) == S_OK,
        "create by ProgID VorSensorNLib.VorSensorN");
  if (object == nullptr) return Finish();

  // Aggregation: the inner unknown only, and it answers for the outer object.
  Outer outer;
  IUnknown* refused = nullptr;
  Check(CoCreateInstance(CLSID_VorSensorN, &outer, CLSCTX_INPROC_SERVER, IID_IVorSensorN,
                         reinterpret_cast<void**>(&refused)) == CLASS_E_NOAGGREGATION,
        "aggregation asking for IVorSensorN: CLASS_E_NOAGGREGATION");
  Check(CoCreateInstance(CLSID_VorSensorN, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                         reinterpret_cast<void**>(&outer.inner)) == S_OK,
        "aggregated creation");
  if (outer.inner != nullptr) {
    IVorSensorN* viaOuter = nullptr;
    outer.QueryInterface(IID_IVorSensorN, reinterpret_cast<void**>(&viaOuter));
    IUnknown* identity = nullptr;
    if (viaOuter != nullptr) viaOuter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    Check(identity == &outer, "an aggregated object's interfaces answer for the outer object");
    if (viaOuter != nullptr) viaOuter->Release();
    outer.inner->Release();
  }

  CheckTypeInfo(object);
  const std::vector<std::string> templates = ReadTemplates(templateFile);
  Check(templates.size() == 3 && templates[0].size() == 1000, "read the templates from " + templateFile);
  if (templates.size() == 3) {
    CheckEveryMethod(object, templates[0]);
    object->Open();
    CheckArguments(object, templates[0], templates[1], templates[2]);
    object->Close();
  }
  object->Release();
  return Finish();
}

int RunUnregistered() {
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsid;
  Check(!KeyExists(L"VorSensorNLib.VorSensorN.1"), "HKCR\\VorSensorNLib.VorSensorN.1 removed");
  Check(!KeyExists(L"VorSensorNLib.VorSensorN"), "HKCR\\VorSensorNLib.VorSensorN removed");
  Check(!KeyExists(clsidKey), "HKCR\\CLSID\\{the CLSID} removed");
  Check(!KeyExists(std::wstring(L"AppID\\") + kAppId), "HKCR\\AppID\\{the AppID} removed");
  Check(!KeyExists(L"AppID\\VorSensorNLib.DLL"), "HKCR\\AppID\\VorSensorNLib.DLL removed");
  Check(!KeyExists(std::wstring(L"TypeLib\\") + kLibid), "HKCR\\TypeLib\\{LIBID} removed");
  Check(KeyExists(L"CLSID"), "HKCR\\CLSID itself kept");
  Check(KeyExists(L"AppID"), "HKCR\\AppID itself kept");
  CLSID clsid = {};
  Check(FAILED(CLSIDFromProgID(L"VorSensorNLib.VorSensorN", &clsid)), "the ProgID no longer resolves");
  return Finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::printf("RESULT pass=0 fail=1 (CoInitializeEx)\n");
    return 1;
  }
  const std::string mode = argc > 1 ? argv[1] : "";
  int result = 2;
  if (mode == "events" && argc == 5) {
    result = RunEvents(argv[2], argv[3], argv[4]);
  } else if (mode == "registered" && argc == 4) {
    result = RunRegistered(argv[2], argv[3]);
  } else if (mode == "unregistered" && argc == 2) {
    result = RunUnregistered();
  } else {
    std::printf("usage: com_client events <test module> <image folder> <template file>\n"
                "       com_client registered <template file> <module path>\n"
                "       com_client unregistered\n");
  }
  CoUninitialize();
  return result;
}
