-- Stand-in for the update script: counts its loads and returns a function for the
-- host's start chunk to call, which does nothing.
main_loads = (main_loads or 0) + 1
return function() end
