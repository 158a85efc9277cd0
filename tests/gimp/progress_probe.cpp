// A plug-in for the tests only: runs plug-in-glyphmosaic with a progress of
// its own installed, which GIMP then feeds as it would its window's progress
// bar, and answers with what that bar was told, one line per call. GIMP
// passes progress on only when it has a user interface.
#include <libgimp/gimp.h>

#include <cstdio>
#include <string>

namespace {

constexpr char kProcedure[] = "plug-in-gm-progress-probe";
std::string seen;

void Start(const gchar* message, gboolean, gpointer) { seen += std::string("start ") + message + "\n"; }
void End(gpointer) { seen += "end\n"; }
void SetText(const gchar* message, gpointer) { seen += std::string("text ") + message + "\n"; }
void SetValue(gdouble value, gpointer) {
  char line[32];
  std::snprintf(line, sizeof line, "%.6f\n", value);
  seen += line;
}
void Pulse(gpointer) { seen += "pulse\n"; }
guint32 Window(gpointer) { return 0; }

void Query() {
  static GimpParamDef args[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"), const_cast<gchar*>("The run mode")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
  };
  static GimpParamDef answers[] = {
      {GIMP_PDB_STRING, const_cast<gchar*>("calls"), const_cast<gchar*>("The progress calls, one a line")},
  };
  gimp_install_procedure(kProcedure, "Test probe", "Test probe", "test", "test", "2026", nullptr, "RGB*",
                         GIMP_PLUGIN, G_N_ELEMENTS(args), G_N_ELEMENTS(answers), args, answers);
}

void Run(const gchar*, gint nparams, const GimpParam* params, gint* nreturn, GimpParam** returned) {
  static GimpParam values[2];
  *returned = values;
  *nreturn = 1;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  if (nparams < 3) return;
  GimpProgressVtable vtable{};
  vtable.start = Start;
  vtable.end = End;
  vtable.set_text = SetText;
  vtable.set_value = SetValue;
  vtable.pulse = Pulse;
  vtable.get_window = Window;
  gimp_progress_install_vtable(&vtable, nullptr);
  gint count = 0;
  GimpParam* result = gimp_run_procedure("plug-in-glyphmosaic", &count, GIMP_PDB_INT32, params[0].data.d_int32,
                                         GIMP_PDB_IMAGE, params[1].data.d_image, GIMP_PDB_DRAWABLE,
                                         params[2].data.d_drawable, GIMP_PDB_END);
  const bool ran = count > 0 && result[0].data.d_status == GIMP_PDB_SUCCESS;
  gimp_destroy_params(result, count);
  // Left installed: GIMP drops it as the plug-in ends, and uninstalling it
  // here made GIMP lose this procedure's answer.
  values[0].data.d_status = ran ? GIMP_PDB_SUCCESS : GIMP_PDB_EXECUTION_ERROR;
  values[1].type = GIMP_PDB_STRING;
  values[1].data.d_string = seen.data();
  *nreturn = 2;
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, Query, Run};

MAIN()
