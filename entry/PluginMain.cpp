#include <new>

#include "entry/Coordinates.h"
#include "entry/Entry.h"
#include "entry/Platform.h"
#include "product/Product.h"

int16_t* hostResult = nullptr;
intptr_t* hostData = nullptr;
FilterRecord* hostFilterRecord = nullptr;
SPBasicSuite* hostBasicSuite = nullptr;
PhaseHook phaseHook = nullptr;

const char kAboutCaption[] = GM_PRODUCT_NAME;
const char kAboutText[] = GM_ABOUT_MESSAGE;

namespace {

// A code that cannot be a 16-bit failure (success, or a host's four-character
// code) still means the phase failed.
OSErr ThrownCode(int64_t code) {
  return code != noErr && code >= INT16_MIN && code <= INT16_MAX ? static_cast<OSErr>(code) : filterBadParameters;
}

void RunPhase(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  hostResult = result;
  hostData = data;
  if (selector == filterSelectorAbout) {
    hostBasicSuite = record ? static_cast<AboutRecord*>(record)->sSPBasic : nullptr;
  } else {
    hostFilterRecord = static_cast<FilterRecord*>(record);
    hostBasicSuite = hostFilterRecord ? hostFilterRecord->sSPBasic : nullptr;
    if (hostFilterRecord && hostFilterRecord->bigDocumentData) {
      hostFilterRecord->bigDocumentData->PluginUsing32BitCoordinates = 1;
    }
  }

  if (phaseHook) phaseHook(selector);
  switch (selector) {
    case filterSelectorAbout:
      ShowAboutMessage();
      break;
    case filterSelectorParameters:
    case filterSelectorFinish:
      break;
    case filterSelectorPrepare:
      PrepareFilter();
      break;
    case filterSelectorStart:
      FilterTiles();
      break;
    case filterSelectorContinue:
      ContinueFilter();
      break;
    default:
      if (hostResult) *hostResult = filterBadParameters;
      break;
  }
}

}  // namespace

// Nothing may unwind into the host: its frames know nothing of our
// exceptions, and the user's open documents would go down with it. The
// record stays as the phase left it; only the result changes.
extern "C" void PluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  OSErr code = noErr;
  try {
    RunPhase(selector, record, data, result);
    return;
  } catch (int16_t thrown) {
    code = ThrownCode(thrown);
  } catch (uint32_t thrown) {
    code = ThrownCode(static_cast<int32_t>(thrown));
  } catch (const std::bad_alloc&) {
    code = memFullErr;
  } catch (...) {
    code = filterBadParameters;
  }
  if (result) *result = code;
}

void ShowAboutMessage() { PlatformMessageBox(kAboutCaption, kAboutText); }

void PrepareFilter() {
  if (!hostFilterRecord) return;
  hostFilterRecord->bufferSpace = 0;
  hostFilterRecord->maxSpace = 0;
}

void ContinueFilter() {
  if (!hostFilterRecord) return;
  SetOutRect(VRect{0, 0, 0, 0});
}
