# Sourced by the build scripts: how the test and demonstration builds are configured.
# They point every catalogue server at loopback ports that the tests and the demonstration serve,
# and export the test hook that runs an update cycle at once.
livemodule_config=(
  -DLIVEMODULE_TEST_HOOKS=ON
  -DLIVEMODULE_CATALOGUE_URL_DEFAULT=http://127.0.0.1:18600/
  -DLIVEMODULE_CATALOGUE_URL_ALT1=http://127.0.0.1:18601/
  -DLIVEMODULE_CATALOGUE_URL_ALT2=http://127.0.0.1:18602/
)
