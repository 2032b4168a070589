-- Utilities of the script set; the conversation uses the table dump.
local render = require "tostring"

local futil = {}

-- The readable text of a value; nil stays nil.
function futil.toStr(v)
	if v == nil then
		return nil
	end
	return render(v)
end

return futil
