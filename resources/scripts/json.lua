-- JSON for the scripts: the native cjson module.
return require "cjson"
