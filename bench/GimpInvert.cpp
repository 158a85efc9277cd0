// The baseline the GIMP plug-in is timed against: the least any plug-in can do
// with a layer's pixels. It walks the selection's bounding box tile by tile
// in the layer's own format (no conversion), inverts the colour of 8-bit
// layers into the shadow buffer and has GIMP merge it, as plug-in-glyphmosaic
// does; nothing of ours is linked in. Built twice: with GEGL's own settings
// (plug-in-gm-bench-invert), and with GEGL's tile cache as small as
// plug-in-glyphmosaic sets it (plug-in-gm-bench-invert-lean, GM_LEAN).
#include <libgimp/gimp.h>

#include <cstddef>
#include <cstdint>

namespace {

#ifdef GM_LEAN
constexpr char kProcedure[] = "plug-in-gm-bench-invert-lean";
#else
constexpr char kProcedure[] = "plug-in-gm-bench-invert";
#endif

bool Invert(gint32 drawable) {
  gint x = 0, y = 0, w = 0, h = 0;
  if (!gimp_drawable_mask_intersect(drawable, &x, &y, &w, &h)) return true;
  const Babl* format = gimp_drawable_get_format(drawable);
  const int pixelBytes = babl_format_get_bytes_per_pixel(format);
  const int colourBytes = gimp_drawable_has_alpha(drawable) ? pixelBytes - 1 : pixelBytes;
  if (pixelBytes != babl_format_get_n_components(format)) return false;  // 8-bit layers only
  const GeglRectangle box{x, y, w, h};
  GeglBuffer* source = gimp_drawable_get_buffer(drawable);
  GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
  GeglBufferIterator* it = gegl_buffer_iterator_new(shadow, &box, 0, format, GEGL_ACCESS_WRITE, GEGL_ABYSS_NONE, 2);
  gegl_buffer_iterator_add(it, source, &box, 0, format, GEGL_ACCESS_READ, GEGL_ABYSS_NONE);
  while (gegl_buffer_iterator_next(it)) {
    auto* out = static_cast<uint8_t*>(it->items[0].data);
    const auto* in = static_cast<const uint8_t*>(it->items[1].data);
    for (size_t i = 0; i < static_cast<size_t>(it->length) * pixelBytes; i += pixelBytes) {
      for (int c = 0; c < pixelBytes; ++c) {
        out[i + c] = c < colourBytes ? static_cast<uint8_t>(255 - in[i + c]) : in[i + c];
      }
    }
  }
  g_object_unref(source);
  g_object_unref(shadow);  // flushes the tiles to GIMP
  return gimp_drawable_merge_shadow(drawable, TRUE) && gimp_drawable_update(drawable, x, y, w, h);
}

void Query() {
  static GimpParamDef args[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"), const_cast<gchar*>("The run mode")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image (unused)")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
  };
  gimp_install_procedure(kProcedure, "Benchmark baseline", "Inverts the selection of an 8-bit layer", "bench",
                         "bench", "2026", nullptr, "RGB*", GIMP_PLUGIN, G_N_ELEMENTS(args), 0, args, nullptr);
}

void Run(const gchar*, gint nparams, const GimpParam* params, gint* nreturn, GimpParam** returned) {
  static GimpParam values[1];
  *nreturn = 1;
  *returned = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  if (nparams < 3) return;
  gegl_init(nullptr, nullptr);
#ifdef GM_LEAN
  g_object_set(gegl_config(), "tile-cache-size", guint64{1} << 20, nullptr);
#endif
  values[0].data.d_status = Invert(params[2].data.d_drawable) ? GIMP_PDB_SUCCESS : GIMP_PDB_EXECUTION_ERROR;
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, Query, Run};

MAIN()
