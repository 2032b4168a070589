-- Readable one-line rendering of Lua values, tables included.
local keywords = {}
for k in ([[and break do else elseif end false for function goto if in local nil not or
	repeat return then true until while]]):gmatch("%a+") do
	keywords[k] = true
end

local function is_identifier(k)
	return type(k) == "string" and k:match("^[%a_][%w_]*$") ~= nil and not keywords[k]
end

local render

local function render_table(t, open)
	if open[t] then
		return "<cycle to " .. tostring(t) .. ">"
	end
	open[t] = true
	local parts = {}
	local n = 0
	while t[n + 1] ~= nil do
		n = n + 1
		table.insert(parts, render(t[n], open))
	end
	for k, v in pairs(t) do
		local in_sequence = math.type(k) == "integer" and k >= 1 and k <= n
		if not in_sequence then
			if is_identifier(k) then
				table.insert(parts, k .. " = " .. render(v, open))
			else
				table.insert(parts, "[" .. render(k, open) .. "] = " .. render(v, open))
			end
		end
	end
	open[t] = nil
	return "{" .. table.concat(parts, ", ") .. "}"
end

render = function(v, open)
	local t = type(v)
	if t == "table" then
		return render_table(v, open)
	elseif t == "string" then
		return '"' .. v .. '"'
	elseif t == "function" or t == "userdata" or t == "thread" then
		return "<" .. tostring(v) .. ">"
	end
	return tostring(v)
end

return function(v)
	return render(v, {})
end
