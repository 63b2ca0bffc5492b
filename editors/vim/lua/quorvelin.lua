-- quorvelin-lsp for Neovim's built-in LSP client (Neovim 0.7, Debian's, or
-- later), on the buffers of file type "quorvelin" (*.ic, ftdetect/quorvelin.vim).
-- In init.lua:
--   vim.opt.runtimepath:append("/usr/share/quorvelin/editors/vim")
--   require("quorvelin").setup()       -- quorvelin-lsp from the PATH
--   require("quorvelin").setup({ cmd = { "/path/to/quorvelin-lsp" } })
-- One server serves all the buffers of the session.
local M = {}

function M.setup(opts)
  local cmd = (opts or {}).cmd or { "quorvelin-lsp" }
  local id
  vim.api.nvim_create_autocmd("FileType", {
    pattern = "quorvelin",
    callback = function(args)
      if vim.fn.executable(cmd[1]) == 0 then
        vim.notify("quorvelin: " .. cmd[1] .. " not found; install quorvelin or pass setup({ cmd = ... })",
          vim.log.levels.WARN)
        return
      end
      if not id or vim.lsp.client_is_stopped(id) then
        id = vim.lsp.start_client({ name = "quorvelin", cmd = cmd, root_dir = vim.fn.getcwd() })
      end
      if id then
        vim.lsp.buf_attach_client(args.buf, id)
      end
    end,
  })
end

return M
