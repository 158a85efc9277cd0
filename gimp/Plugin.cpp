// The filter as a GIMP 2.10 plug-in: GIMP's procedure database on one side,
// the built-in host and the module's own entry point on the other, so that
// GIMP gets exactly the pixels every other host gets.
#include <libgimp/gimp.h>

#include <cstdint>
#include <new>
#include <string>

#include "entry/Entry.h"
#include "gimp/Pixels.h"
#include "host/FilterHost.h"
#include "io/Image.h"
#include "product/Product.h"

namespace {

constexpr char kProcedure[] = "plug-in-glyphmosaic";
// Each tile passes through the plug-in once, so GEGL need keep none. A cache
// smaller than a hundred tiles also keeps GEGL from grouping tiles in blocks,
// which it hands back to the system every ten blocks freed: streaming a layer
// through, that cost a page fault for nearly every page of every tile.
constexpr guint64 kTileCacheBytes = guint64{1} << 20;

// Why GIMP would refuse to take the result, checked before anything is read
// or any undo step begins; empty when nothing stands in the way.
std::string Refusal(gint32 drawable) {
  if (!gimp_item_is_layer(drawable)) return "the drawable must be a layer, not a layer mask or a channel";
  if (gimp_item_is_group(drawable)) return "a layer group has no pixels of its own; choose one of its layers";
  if (!gimp_drawable_is_rgb(drawable)) {
    return "the filter works on RGB layers only; convert the image with Image > Mode > RGB";
  }
  if (gimp_item_get_image(drawable) == -1) return "the layer belongs to no image";
  // A layer in a locked group reports its own lock as off, yet GIMP refuses
  // to write to it.
  if (gimp_item_get_lock_content(drawable)) return "the layer's pixels are locked";
  for (gint32 group = gimp_item_get_parent(drawable); group != -1; group = gimp_item_get_parent(group)) {
    if (gimp_item_get_lock_content(group)) {
      gchar* name = gimp_item_get_name(group);
      const std::string reason = "the layer's pixels are locked by its layer group \"" + std::string(name) + "\"";
      g_free(name);
      return reason;
    }
  }
  return {};
}

// The part of the drawable the filter may change: the selection's bounding
// box in the drawable's coordinates, empty when the selection misses it.
GeglRectangle Box(gint32 drawable) {
  gint x = 0, y = 0, w = 0, h = 0;
  if (!gimp_drawable_mask_intersect(drawable, &x, &y, &w, &h)) w = h = 0;
  return GeglRectangle{x, y, w, h};
}

// The progress bar for the whole run, however it ends.
class ProgressBar {
 public:
  ProgressBar() { gimp_progress_init(GM_PRODUCT_NAME); }
  ~ProgressBar() { gimp_progress_end(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
};

// The module runs once per strip of the box, each strip a selection whose
// top is a whole number of cells below the box's: the cells fall exactly as
// in one run over the box. An empty result means success, anything else is
// the one line GIMP shows.
std::string Filter(gint32 drawable, const GeglRectangle& box) {
  const ProgressBar bar;
  gm::host::FilterHost host(&PluginMain);
  int32_t rowsDone = 0;
  return gm::gimp::FilterBox(drawable, box, [&](gm::Image& strip, const VRect& area) {
    const int32_t rows = area.bottom - area.top;
    gm::host::RunOptions run;
    run.filterRect = area;
    run.progress = [&](double fraction) {
      gimp_progress_update((rowsDone + fraction * rows) / static_cast<double>(box.height));
    };
    const gm::host::RunReport report = host.Run(strip, run);
    rowsDone += rows;
    return report.Succeeded() ? std::string() : gm::host::DescribeFailure(report);
  });
}

void Query() {
  static GimpParamDef args[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image (unused)")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
  };
  gimp_install_procedure(kProcedure, "Redraw the selection as text art",
                         "Turns the selection, or the whole layer, into text art: the pixels are thresholded "
                         "to black and white, cut into cells of 8 x 12 pixels starting at the selection's "
                         "top-left corner, and each cell is redrawn in grey on black with the printable "
                         "ASCII character that matches it best. Transparency is kept. There are no options.",
                         GM_COMPANY_NAME, GM_COPYRIGHT, "2026", GM_PRODUCT_NAME, "RGB*", GIMP_PLUGIN, G_N_ELEMENTS(args), 0, args, nullptr);
  gimp_plugin_menu_register(kProcedure, "<Image>/Filters/Artistic");
}

void Run(const gchar* name, gint nparams, const GimpParam* params, gint* nreturn, GimpParam** returned) {
  static GimpParam values[2];
  static std::string error;
  error.clear();
  *nreturn = 1;
  *returned = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_SUCCESS;
  if (std::string(name) != kProcedure || nparams < 3) {
    values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
    return;
  }
  const auto mode = static_cast<GimpRunMode>(params[0].data.d_int32);
  const gint32 drawable = params[2].data.d_drawable;
  gegl_init(nullptr, nullptr);
  g_object_set(gegl_config(), "tile-cache-size", kTileCacheBytes, nullptr);

  try {
    error = Refusal(drawable);
    if (error.empty()) {
      const GeglRectangle box = Box(drawable);
      if (box.width > 0 && box.height > 0) error = Filter(drawable, box);
    }
  } catch (const std::bad_alloc&) {
    error = "not enough memory for the selection";
  }

  if (!error.empty()) {
    error = std::string(GM_PRODUCT_NAME) + ": " + error + ".";
    values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = error.data();
    *nreturn = 2;
    return;
  }
  if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, Query, Run};

MAIN()
