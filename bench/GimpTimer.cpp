// Times one procedure on a layer from inside GIMP, the way a user waits for
// it: from the call to its answer, a plug-in's start-up and GIMP's merge of
// its shadow buffer included. Script-Fu has no clock, hence a plug-in.
//   (plug-in-gm-bench-time RUN-NONINTERACTIVE "plug-in-glyphmosaic" image layer) -> seconds
// gimp-drawable-invert is called with its own arguments (the layer, not linear).
#include <libgimp/gimp.h>

#include <string>

namespace {

constexpr char kProcedure[] = "plug-in-gm-bench-time";

void Query() {
  static GimpParamDef args[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"), const_cast<gchar*>("The run mode")},
      {GIMP_PDB_STRING, const_cast<gchar*>("procedure"), const_cast<gchar*>("The procedure to time")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Its image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Its drawable")},
  };
  static GimpParamDef answers[] = {
      {GIMP_PDB_FLOAT, const_cast<gchar*>("seconds"), const_cast<gchar*>("Wall time of the call")},
  };
  gimp_install_procedure(kProcedure, "Benchmark timer", "Times a procedure on a layer", "bench", "bench", "2026",
                         nullptr, "RGB*", GIMP_PLUGIN, G_N_ELEMENTS(args), G_N_ELEMENTS(answers), args, answers);
}

void Run(const gchar*, gint nparams, const GimpParam* params, gint* nreturn, GimpParam** returned) {
  static GimpParam values[2];
  *returned = values;
  *nreturn = 1;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  if (nparams < 4) return;
  const std::string procedure = params[1].data.d_string;
  const gint32 image = params[2].data.d_image;
  const gint32 drawable = params[3].data.d_drawable;
  gint count = 0;
  const gint64 start = g_get_monotonic_time();
  GimpParam* result =
      procedure == "gimp-drawable-invert"
          ? gimp_run_procedure(procedure.c_str(), &count, GIMP_PDB_DRAWABLE, drawable, GIMP_PDB_INT32, FALSE,
                               GIMP_PDB_END)
          : gimp_run_procedure(procedure.c_str(), &count, GIMP_PDB_INT32, GIMP_RUN_NONINTERACTIVE, GIMP_PDB_IMAGE,
                               image, GIMP_PDB_DRAWABLE, drawable, GIMP_PDB_END);
  const gint64 end = g_get_monotonic_time();
  const bool ran = count > 0 && result[0].data.d_status == GIMP_PDB_SUCCESS;
  gimp_destroy_params(result, count);
  values[0].data.d_status = ran ? GIMP_PDB_SUCCESS : GIMP_PDB_EXECUTION_ERROR;
  values[1].type = GIMP_PDB_FLOAT;
  values[1].data.d_float = static_cast<gdouble>(end - start) / 1e6;
  *nreturn = 2;
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, Query, Run};

MAIN()
