# Read by cpack before it makes the packages (CPACK_PROJECT_CONFIG_FILE).
#
# Each package's description starts with its own summary line
# (vellum_deb_component's SUMMARY, in CPACK_DEBIAN_<COMPONENT>_DESCRIPTION).
# CPackDeb would put the project's summary, CPACK_PACKAGE_DESCRIPTION_SUMMARY
# (taken from project()'s DESCRIPTION), in front of every one of them.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
