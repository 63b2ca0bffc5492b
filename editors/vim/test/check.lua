-- The Vim files in headless Neovim, with editors/vim on the runtimepath:
--   nvim --headless -u NONE -c "set rtp+=editors/vim" -c "filetype on" -c "syntax on" \
--     -c "luafile editors/vim/test/check.lua" [SERVER]
-- A .ic file gets the file type and the syntax groups; with SERVER (a built
-- quorvelin-lsp), the documented set-up attaches it to the buffer and the
-- misspelt label in the sample gets a diagnostic. Exits 1 on a failure.
local server = vim.fn.argv(0)
local here = vim.fn.fnamemodify(debug.getinfo(1, "S").source:sub(2), ":p:h")
local failed = false
local function check(cond, what)
  if not cond then
    io.stderr:write("FAILED: " .. what .. "\n")
    failed = true
  end
end

if server ~= "" then
  require("quorvelin").setup({ cmd = { vim.fn.fnamemodify(server, ":p") } })
end
local file = vim.fn.tempname() .. ".ic"
vim.fn.writefile(vim.fn.readfile(here .. "/sample.ic"), file)
vim.cmd("edit " .. vim.fn.fnameescape(file))
check(vim.bo.filetype == "quorvelin", "file type: '" .. vim.bo.filetype .. "'")
check(vim.b.current_syntax == "quorvelin", "syntax: " .. tostring(vim.b.current_syntax))

-- line, column (1-based), syntax group there
local expect = {
  { 1, 1, "qvLineMarker" }, { 1, 9, "qvLineNumber" }, { 1, 11, "qvLineFile" },
  { 2, 1, "qvOpcode" }, { 2, 5, "" }, { 3, 1, "qvComment" },
  { 4, 1, "qvLabelDef" }, { 4, 5, "qvLabelColon" }, { 4, 7, "qvOpcode" }, { 4, 11, "qvRegister" },
  { 4, 19, "qvComment" },
  { 5, 2, "qvOpcode" }, { 5, 7, "qvNumber" }, { 5, 12, "qvRegister" },
  { 6, 9, "qvString" }, { 6, 11, "qvEscape" }, { 6, 17, "qvComment" },
  { 7, 6, "qvNumber" }, { 7, 9, "" },
}
for _, e in ipairs(expect) do
  local got = vim.fn.synIDattr(vim.fn.synID(e[1], e[2], 1), "name")
  check(got == e[3], ("line %d column %d: '%s', not '%s'"):format(e[1], e[2], got, e[3]))
end

if server ~= "" then
  local buf = vim.api.nvim_get_current_buf()
  check(vim.wait(10000, function() return #vim.diagnostic.get(buf) > 0 end), "diagnostics arrive")
  local found = false
  for _, d in ipairs(vim.diagnostic.get(buf)) do
    found = found or (d.lnum == 6 and d.code == "undefined-label")
  end
  check(found, "the misspelt label: " .. vim.inspect(vim.diagnostic.get(buf)))
end
os.remove(file)
vim.cmd(failed and "cquit 1" or "qall!")
