# The plugin under test, also when the package is used from the source tree (PYTHONPATH);
# pytester runs pytest on test files of its own, for the plugin's reports.
pytest_plugins = ["vorlak_rig.pytest_plugin", "pytester"]
