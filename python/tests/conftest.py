# The plugin under test, also when the package is used from the source tree (PYTHONPATH).
pytest_plugins = ["vorlak_rig.pytest_plugin"]
