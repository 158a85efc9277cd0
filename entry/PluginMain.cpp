#include "entry/Coordinates.h"
#include "entry/Entry.h"
#include "entry/Platform.h"
#include "product/Product.h"

int16_t* hostResult = nullptr;
intptr_t* hostData = nullptr;
FilterRecord* hostFilterRecord = nullptr;
SPBasicSuite* hostBasicSuite = nullptr;

const char kAboutCaption[] = "GlyphMosaic";
const char kAboutText[] = GM_ABOUT_MESSAGE;

extern "C" void PluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result) {
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
