// Lints the viewer page's scripts: ESLint's recommended rules, browser globals.
import js from '@eslint/js';
import globals from 'globals';

export default [
  {
    files: ['src/plugin_logs/viewer/**/*.js'],
    ...js.configs.recommended,
    languageOptions: {
      ecmaVersion: 2020,
      sourceType: 'script',
      globals: globals.browser,
    },
  },
  {
    // The theme scripts run before the first paint and treat every failure as an absent
    // value, so their catches are empty on purpose.
    files: ['src/plugin_logs/viewer/theme_*.js'],
    rules: {
      'no-empty': ['error', { allowEmptyCatch: true }],
      'no-unused-vars': ['error', { caughtErrors: 'none' }],
    },
  },
];
