-- Neovim's built-in LSP client drives quorvelin-lsp (headless):
--   nvim --headless -u NONE -c "luafile nvim_test.lua" SERVER FILE
-- Opens FILE (a copy of nvim_fact.ic), waits for the diagnostics, asks for hover, definition,
-- references, completion, symbols, a quick fix and a rename, and checks each answer.
-- Exits 0 when all hold; otherwise prints the failure and exits 1.
local server, file = vim.fn.argv(0), vim.fn.argv(1)
local failed = false
local function check(cond, what)
  if not cond then
    io.stderr:write("FAILED: " .. what .. "\n")
    failed = true
  end
end

vim.cmd("edit " .. vim.fn.fnameescape(file))
local buf = vim.api.nvim_get_current_buf()
local id = vim.lsp.start_client({ name = "quorvelin", cmd = { server } })
vim.lsp.buf_attach_client(buf, id)
local uri = vim.uri_from_bufnr(buf)

check(vim.wait(10000, function() return #vim.diagnostic.get(buf) > 0 end), "diagnostics arrive")
local d = vim.diagnostic.get(buf)[1]
check(d and d.code == "undefined-label" and d.lnum == 21, "the misspelt label: " .. vim.inspect(d))

local function ask(method, line, col, extra)
  local params = { textDocument = { uri = uri }, position = { line = line, character = col } }
  for k, v in pairs(extra or {}) do params[k] = v end
  local res = vim.lsp.buf_request_sync(buf, method, params, 10000)
  return res and res[id] and res[id].result
end

local h = ask("textDocument/hover", 8, 0)  -- "\tleq r1, r2": the line's MIPS
check(h and h.contents.value:find("ble", 1, true), "hover shows the MIPS: " .. vim.inspect(h))
local def = ask("textDocument/definition", 14, 6)  -- cst Fact
check(def and def[1] and def[1].range.start.line == 2, "definition of Fact: " .. vim.inspect(def))
local refs = ask("textDocument/references", 2, 5, { context = { includeDeclaration = true } })
check(refs and #refs == 3, "references of Fact: " .. vim.inspect(refs))
local items = ask("textDocument/completion", 21, 9)  -- brf r0, |Dnoe
local names = {}
for _, it in ipairs(items and (items.items or items) or {}) do names[#names + 1] = it.label end
table.sort(names)
check(vim.deep_equal(names, { "Done", "Recurse" }), "line labels after brf: " .. vim.inspect(names))
local syms = vim.lsp.buf_request_sync(buf, "textDocument/documentSymbol", { textDocument = { uri = uri } }, 10000)
syms = syms and syms[id] and syms[id].result or {}
check(#syms == 3 and syms[2].name == "Fact", "symbols: " .. vim.inspect(syms))
-- The checker's "did you mean" comes back as a quick fix for that diagnostic.
-- (Neovim 0.7 keeps only some of the protocol's fields in user_data.lsp.)
local lsp_d = d and {
  range = { start = { line = d.lnum, character = d.col }, ["end"] = { line = d.end_lnum, character = d.end_col } },
  message = d.message, code = d.code, severity = d.severity }
local actions = lsp_d and vim.lsp.buf_request_sync(buf, "textDocument/codeAction", {
  textDocument = { uri = uri }, range = lsp_d.range, context = { diagnostics = { lsp_d } } }, 10000)
actions = actions and actions[id] and actions[id].result or {}
local fix = actions[1] and actions[1].edit and actions[1].edit.changes and actions[1].edit.changes[uri]
check(actions[1] and actions[1].kind == "quickfix" and fix and fix[1].newText == "Done",
  "quick fix: " .. vim.inspect(actions))
-- Rename through the client, applied to the buffer: the diagnostics go.
local edit = ask("textDocument/rename", 24, 1, { newName = "Dnoe" })
check(edit ~= nil, "rename answered")
if edit then vim.lsp.util.apply_workspace_edit(edit, "utf-16") end
check(vim.api.nvim_buf_get_lines(buf, 24, 25, false)[1]:find("^Dnoe:"), "rename applied")
check(vim.wait(10000, function() return #vim.diagnostic.get(buf) == 0 end), "no diagnostics after the rename")

vim.lsp.stop_client(id)
vim.cmd(failed and "cquit 1" or "qall!")
