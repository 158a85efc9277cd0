// The functions the module imports from its loader, declared to the linker;
// web/glyphmosaic.js supplies them.
mergeInto(LibraryManager.library, {
  gm_progress: function (fraction) {},
});
