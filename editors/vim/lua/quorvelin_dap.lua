-- Debugging intermediate programs in Neovim with nvim-dap
-- (https://github.com/mfussenegger/nvim-dap), through `quorvelin-debug --dap`.
-- In init.lua, after nvim-dap is installed:
--   vim.opt.runtimepath:append("/usr/share/quorvelin/editors/vim")
--   require("quorvelin_dap").setup()     -- quorvelin-debug from the PATH
--   require("quorvelin_dap").setup({ command = "/path/to/quorvelin-debug" })
-- Then in a *.ic buffer: :lua require("dap").toggle_breakpoint() and
-- :lua require("dap").continue(), which offers the configurations below.
-- A program waiting for input takes the lines typed in the REPL
-- (:lua require("dap").repl.open()); there the terminal debugger's commands
-- work too (bt, info frame, x/4 ADDR, ...).
local M = {}

function M.setup(opts)
  opts = opts or {}
  local dap = require("dap")
  dap.adapters.quorvelin = {
    type = "executable",
    command = opts.command or "quorvelin-debug",
    args = { "--dap" },
  }
  dap.configurations.quorvelin = {
    {
      type = "quorvelin",
      request = "launch",
      name = "Debug this .ic file",
      program = "${file}",
    },
    {
      type = "quorvelin",
      request = "launch",
      name = "Debug this .ic file, its input from a file",
      program = "${file}",
      stdinFile = function()
        return vim.fn.input("Input file: ", "", "file")
      end,
    },
    {
      type = "quorvelin",
      request = "launch",
      name = "Debug this .ic file, stopping at its first line",
      program = "${file}",
      stopOnEntry = true,
    },
  }
end

return M
