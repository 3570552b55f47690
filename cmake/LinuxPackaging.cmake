# The Linux program's links and its Debian package (make package).

# The framework loads these X11 libraries by name when it starts. Linked here as well, they are
# needed entries of the program, so that the package's dependencies are computed from it.
find_package(X11 REQUIRED COMPONENTS Xext Xcursor Xinerama Xrender Xrandr)
target_link_libraries(CantoraUpdater PRIVATE -Wl,--no-as-needed X11::X11 X11::Xext X11::Xcursor
    X11::Xinerama X11::Xrender X11::Xrandr -Wl,--as-needed)
include(tools/package/Packaging.cmake)
