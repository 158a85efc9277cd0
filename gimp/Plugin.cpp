// The filter as a GIMP 2.10 plug-in: GIMP's procedure database on one side,
// the built-in host and the module's own entry point on the other, so that
// GIMP gets exactly the pixels every other host gets.
#include <libgimp/gimp.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "entry/Entry.h"
#include "host/FilterHost.h"
#include "io/Image.h"
#include "product/Product.h"

namespace {

constexpr char kProcedure[] = "plug-in-glyphmosaic";
constexpr int kColourPlanes = 3;

// Where the pixels are, and which part of them the filter may change.
struct Target {
  gint32 drawable = -1;
  bool alpha = false;
  int32_t width = 0;
  int32_t height = 0;
  GeglRectangle area{};  // the selection's bounding box, in the drawable's coordinates
  bool selection = false;
};

const Babl* FormatFor(const Target& t) { return babl_format(t.alpha ? "R'G'B'A u8" : "R'G'B' u8"); }

// Only the filtered area is read: the filter touches nothing outside it, and
// the rest of the image stays zero.
gm::Image Read(const Target& t) {
  gm::Image image(t.width, t.height, t.alpha ? 4 : 3);
  GeglBuffer* buffer = gimp_drawable_get_buffer(t.drawable);
  gegl_buffer_get(buffer, &t.area, 1.0, FormatFor(t), image.At(t.area.x, t.area.y),
                  static_cast<gint>(image.RowBytes()), GEGL_ABYSS_NONE);
  g_object_unref(buffer);
  return image;
}

// Through the shadow buffer, so that GIMP applies the result through the
// selection's mask (feathered edges included) and records one undo step.
void Write(const Target& t, const gm::Image& image) {
  GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(t.drawable);
  gegl_buffer_set(shadow, &t.area, 0, FormatFor(t), image.At(t.area.x, t.area.y),
                  static_cast<gint>(image.RowBytes()));
  g_object_unref(shadow);  // flushes the tiles to GIMP
  gimp_drawable_merge_shadow(t.drawable, TRUE);
  gimp_drawable_update(t.drawable, t.area.x, t.area.y, t.area.width, t.area.height);
}

// The whole filter run; an empty result means success, anything else is the
// one line GIMP shows.
std::string Filter(const Target& t) {
  gm::Image image = Read(t);
  gm::host::RunOptions run;
  if (t.selection) {
    run.filterRect = VRect{t.area.y, t.area.x, t.area.y + t.area.height, t.area.x + t.area.width};
  }
  // The plug-in counts its total per colour plane but steps once per tile
  // row, so its last call reports a third: scaled back to reach the end.
  run.progress = [](int32_t done, int32_t total) {
    if (total > 0) gimp_progress_update(std::min(1.0, static_cast<double>(done) * kColourPlanes / total));
  };
  gm::host::FilterHost host(&PluginMain);
  const gm::host::RunReport report = host.Run(image, run);
  if (report.hostError != noErr) {
    return "the host refused the filter's request, result " + std::to_string(report.hostError);
  }
  if (report.result != noErr) return "the filter stopped with result " + std::to_string(report.result);
  Write(t, image);
  return {};
}

// One entry in the undo history, and the progress bar, for the whole run,
// however it ends.
class UndoStep {
 public:
  explicit UndoStep(gint32 image) : image_(image) {
    gimp_progress_init(GM_PRODUCT_NAME);
    gimp_image_undo_group_start(image_);
  }
  ~UndoStep() {
    gimp_image_undo_group_end(image_);
    gimp_progress_end();
  }
  UndoStep(const UndoStep&) = delete;
  UndoStep& operator=(const UndoStep&) = delete;

 private:
  gint32 image_;
};

std::optional<Target> Locate(gint32 drawable, std::string& error) {
  if (!gimp_item_is_drawable(drawable) || !gimp_drawable_is_rgb(drawable)) {
    error = "the filter works on RGB layers only";
    return std::nullopt;
  }
  if (gimp_item_is_group(drawable)) {
    error = "a layer group has no pixels of its own; choose one of its layers";
    return std::nullopt;
  }
  Target t;
  t.drawable = drawable;
  t.alpha = gimp_drawable_has_alpha(drawable);
  t.width = gimp_drawable_width(drawable);
  t.height = gimp_drawable_height(drawable);
  t.selection = !gimp_selection_is_empty(gimp_item_get_image(drawable));
  gint x = 0, y = 0, w = 0, h = 0;
  if (!gimp_drawable_mask_intersect(drawable, &x, &y, &w, &h)) w = h = 0;
  t.area = GeglRectangle{x, y, w, h};
  return t;
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
  gegl_init(nullptr, nullptr);

  try {
    if (std::optional<Target> target = Locate(params[2].data.d_drawable, error)) {
      if (target->area.width > 0 && target->area.height > 0) {
        const UndoStep step(gimp_item_get_image(target->drawable));
        error = Filter(*target);
      }
    }
  } catch (const std::bad_alloc&) {
    error = "not enough memory for the layer";
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
